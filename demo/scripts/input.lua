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
  input.button.onOpenMainMenu = "demo_on_main_menu"
end

-- A click on the keeper or the lantern talks or lights it; in the
-- harbour's view a click on the ground walks the hero there (hero.lua);
-- true when he sets off. The menu's buttons take their own clicks: a click
-- elsewhere on the menu, or before any scene is there, does nothing.
function demo_on_action()
  msg("demo: action")
  if demo.menu_open or not demo.scene_loaded then
    return false
  end
  -- A click on the keeper or the lantern (keeper.lua).
  if demo_keeper_click() then
    return false
  end
  return demo_walk_to_cursor()
end

function demo_on_game_menu()
  msg("demo: game menu")
end

function demo_on_scroll_up()
  msg("demo: scroll up")
end

-- Esc opens the menu over the scene, and closes it again; before the
-- first scene it only goes back to the menu's first page.
function demo_on_main_menu()
  msg("demo: main menu")
  if demo.menu_open and demo.scene_loaded then
    demo_menu_close()
  else
    demo_menu_open()
  end
end

-- The pointer: the arrow image "pointer" on a still frame that follows the
-- game's cursor, its tip (the image's top left corner) on the cursor that
-- the hit tests read, above every other still frame. It shows where the
-- cursor is used (the menu, the harbour's view and its dialogs) and hides
-- in the hero's eyes, where the mouse turns the view. The tour has no
-- player to point: its saves' screenshots show the scene alone.
local POINTER_LAYER = 1000

function demo_pointer_update()
  local shown = not demo.tour and (demo.menu_open or demo.view ~= "first person")
  local pointer = stillframe:test("demo_pointer") and stillframe:get("demo_pointer") or nil
  if pointer == nil then
    if not shown then
      return
    end
    pointer = stillframe:create("demo_pointer")
    if pointer == nil then
      msg("demo: no pointer")
      return
    end
    pointer:set("pointer")
    pointer.width = 32
    pointer.height = 32
    pointer.order = POINTER_LAYER
    -- Where the cursor stands, then led by it.
    pointer.x = input.cursor.x
    pointer.y = input.cursor.y
    pointer:attach(true)
  end
  if pointer.visible ~= shown then
    pointer.visible = shown
    msg(string.format("demo: pointer %s at %d %d", shown and "shown" or "hidden", input.cursor.x, input.cursor.y))
  end
end
