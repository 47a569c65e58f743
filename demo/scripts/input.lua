-- The player's keys and mouse: a few of the input's events, each logged.
-- A click of the left mouse button is an action, the right button opens
-- the game menu, Page Up and the wheel scroll up.

function demo_input_reset()
  if input == nil then
    msg("demo: no input")
    return
  end
  input.button.onAction = "demo_on_action"
  input.button.onOpenGameMenu = "demo_on_game_menu"
  input.button.onScrollUp = "demo_on_scroll_up"
end

function demo_on_action()
  msg("demo: action")
  -- A click on the keeper or the lantern (keeper.lua).
  if demo_keeper_click() then
    return
  end
end

function demo_on_game_menu()
  msg("demo: game menu")
end

function demo_on_scroll_up()
  msg("demo: scroll up")
end
