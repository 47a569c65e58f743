-- Entry points the engine calls by name: after the scripts are loaded
-- ("system_script_precompilation", then "system_reset"), when play begins
-- ("game_start") and when the player asks to leave ("game_close_window"
-- from the window, "system_event_exit_alt_f4" from the keyboard).

-- The demo's own state; system_reset builds it afresh.
demo = {}

function system_script_precompilation()
  msg("demo: scripts loaded")
end

function system_reset()
  demo = {
    -- Without a display the game runs offscreen and plays the tour.
    tour = os.getenv("SDL_VIDEODRIVER") == "offscreen",
  }
  if game ~= nil then
    game.onStartProgress = "demo_on_start_progress"
    game.onProgress = "demo_on_progress"
    game.onFinishProgress = "demo_on_finish_progress"
    game.onInitialize = "demo_on_initialize"
  end
  demo_input_reset()
  msg("demo: reset")
end

function game_start()
  msg("demo: game start, tour ", demo.tour)
  -- The game opens on its menu; New game loads the first scene. The tour
  -- presses New game by the road a click's handler takes.
  demo_menu_open()
  if demo.tour then
    demo_tour_press("mm_new")
  end
end

function game_close_window()
  msg("demo: window closed")
  demo_hero_report("at the close")
  demo_quit()
end

function system_event_exit_alt_f4()
  demo_quit()
end

function demo_quit()
  msg("demo: quit")
  -- The sounds fade out first where they play (sound.lua).
  if demo_sound_fade_then_quit() then
    return
  end
  if world ~= nil then
    world:quitGame()
  end
end

-- The value of a global variable ("demo.first_scene"), or nil.
function demo_global(path)
  if globals ~= nil and globals:test(path) then
    return globals:get(path)
  end
  msg("demo: no global variable [", path, "]")
  return nil
end
