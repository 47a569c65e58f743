-- The first scene and the loading events. The scene's name is the global
-- variable "demo.first_scene"; the loader reports through the handlers
-- that system_reset gave to the "game" object.

function demo_load_first_scene()
  local scene = demo_global("demo.first_scene")
  if game == nil or scene == nil then
    msg("demo: no scene to load")
  elseif game:load(scene.value) then
    demo.scene_loaded = true
    msg("demo: scene [", scene.value, "] is current")
    demo_show_still_frame()
    -- The hero is the main character.
    demo_hero_main()
    -- The camera cuts to the harbour's view and holds it a second; the "!"
    -- starts the player's free view there, so the camera stays when the
    -- move ends, whatever the frame rate.
    msg("demo: camera move ", game:camera("[1 !harbour_view]") and "plays" or "refused")
    -- The pier's trigger reports who walks onto the pier's end.
    trigger.onEnter = "demo_on_trigger_enter"
    trigger.onLeave = "demo_on_trigger_leave"
    msg("demo: trigger [pier_gate] ", trigger:enable("pier_gate", true) and "enabled" or "not enabled")
    demo_play_sounds()
    demo_character_idle("sailor")
    demo_character_idle("sailor_mate")
    demo_keeper_setup()
    -- The harbour quest begins with the scene: its arrival event runs.
    msg("demo: quest [harbour] ", quest:begin("harbour") and "begun" or "not found")
    quest:event("arrive")
    demo_walk_places()
    demo_quest_run(2)
  else
    msg("demo: scene [", scene.value, "] did not load")
  end
  if not demo.tour then
    -- In a window the player walks the hero.
    demo_hero_walk_start()
  end
  if demo.tour then
    -- The save waits for frames to run: by then the camera has moved and
    -- looked through the scene's visibility areas, which the save keeps.
    demo_tour_wait_then_save()
  end
end

-- The music loops on its channel (sound.lua); the bell rings once and goes
-- by itself. Without a sound device neither is made.
function demo_play_sounds()
  demo_music_resume()
  local bell = soundManager:gPlay(SoundManager.Effect, "bell", "bell")
  msg("demo: bell ", bell ~= nil and ("rings for " .. string.format("%.1f", bell:duration()) .. " s") or "silent")
end

-- What the scene frame draws besides the sky's clear colour: a still frame
-- showing the stone texture of the demo's textures, 160 x 160 in the top
-- right corner of the 1024 x 768 still-frame screen, so the scene stays in
-- view. Leaving the scene releases it.
function demo_show_still_frame()
  local image = stillframe:create("demo_stone")
  if image == nil then
    msg("demo: no still frame")
    return
  end
  image:set("stone")
  image.x = 848
  image.y = 16
  image.width = 160
  image.height = 160
  msg("demo: still frame [stone] shown")
end

function demo_on_start_progress()
  msg("demo: loading starts")
end

function demo_on_progress()
  msg("demo: loading ", math.floor(game.progress * 100), "%")
end

function demo_on_initialize()
  msg("demo: loaded data initialises")
end

function demo_on_finish_progress()
  msg("demo: loading done")
  -- Global sounds go with a load: the music the variables name plays on.
  demo_music_resume()
end

function demo_on_trigger_enter(name, object)
  msg("demo: [", object, "] entered trigger [", name, "]")
  demo_tour_pier_entered(name, object)
end

function demo_on_trigger_leave(name, object)
  msg("demo: [", object, "] left trigger [", name, "]")
end
