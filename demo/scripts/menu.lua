-- The game's menu: pages of still frames built from the "sf" tables of the
-- global variables "menu", "menu_load" and "menu_options" (image_Create),
-- their texts in the "menu" font. A button under the pointer shows its
-- hover image, a click (the left button's release) plays the click sound
-- and runs the button. The game opens on the menu; Esc ("mainmenu") opens
-- it over the scene. While it shows, the camera is in a mode whose input
-- mode lets the still frames take the pointer: "DialogCursor" over a scene,
-- "Stillframe" before the first scene (the only mode that draws a frame
-- without a scene).

-- The camera modes of the open menu, over a scene and without one.
local MENU_CAMERA = 3
local MENU_CAMERA_ALONE = 6

-- The items of each page's table (its row keys), removed when the page goes.
local MENU_PAGES = {
  menu = {"mm_new", "mm_load", "mm_options", "mm_quit", "mm_panel"},
  menu_load = {"mm_back", "mm_panel"},
  menu_options = {"mm_music", "mm_effects", "mm_name", "mm_back", "mm_panel"},
}

-- The Options page's volume steps (percent): a click moves to the next.
local VOLUME_STEPS = {0, 20, 40, 60, 80, 100}

-- Removes the item and its text companion, where they exist.
local function menu_remove(name)
  for _, item in ipairs({name .. "_text", name}) do
    if stillframe:test(item) then
      stillframe:delete(item)
    end
  end
end

-- Removes the shown page and the Load page's slot buttons.
local function menu_clear()
  if demo.menu_page ~= nil then
    for _, name in ipairs(MENU_PAGES[demo.menu_page]) do
      menu_remove(name)
    end
  end
  for name, _ in pairs(demo.menu_slots or {}) do
    menu_remove(name)
  end
  demo.menu_slots = {}
  demo.menu_page = nil
end

-- Builds the page from its table; false when the table is missing or a
-- row failed.
local function menu_build(page)
  menu_clear()
  local node = demo_global(page)
  if node == nil then
    return false
  end
  demo.menu_page = page
  local built = node:image_Create()
  msg("demo: menu page [", page, "] ", built and "built" or "failed")
  return built
end

-- The text of an item's companion, set again (the Options page's values).
local function menu_label(name, text)
  if stillframe:test(name .. "_text") then
    stillframe:get(name .. "_text"):setText(text, 24, "menu")
  end
end

-- Opens the menu on its first page: at the start (no scene) and on Esc.
function demo_menu_open()
  if demo.menu_open then
    return demo_menu_page("menu")
  end
  demo.menu_open = true
  demo.menu_camera = world.camera
  demo.menu_camera_open = demo.scene_loaded and MENU_CAMERA or MENU_CAMERA_ALONE
  world.camera = demo.menu_camera_open
  demo_pointer_update()
  return demo_menu_page("menu")
end

-- Closes the menu and gives the camera its mode back.
function demo_menu_close()
  menu_clear()
  if unicode_edit.enabled then
    unicode_edit:cancel()
  end
  if demo.menu_open then
    demo.menu_open = false
    if demo.menu_camera ~= nil and world.camera == demo.menu_camera_open then
      world.camera = demo.menu_camera
    end
  end
  demo_pointer_update()
  msg("demo: menu closed")
end

function demo_menu_page(page)
  local built = menu_build(page)
  if page == "menu" then
    msg("demo: menu ", built and "built" or "not built")
  elseif page == "menu_load" then
    demo_menu_list_slots()
  elseif page == "menu_options" then
    demo_menu_show_options()
  end
  return built
end

-- A menu button made at run time: the button image at x, y with the hover
-- handlers, and its text in white in the "menu" font above it. Nil when a
-- still frame of the name exists already.
function demo_menu_button(name, x, y, text)
  local button = stillframe:create(name)
  local label = button ~= nil and stillframe:create(name .. "_text") or nil
  if label == nil then
    return nil
  end
  button:set("menu_button")
  button.x = x
  button.y = y
  button.width = 264
  button.height = 56
  button.order = 92
  button:setEvent(0, "menu_on_over")
  button:setEvent(1, "menu_on_out")
  label:setText(text, 24, "menu")
  label.x = x + 24
  label.y = y + 16
  label.order = 93
  local white = label.color
  white:setInt(0xFFFFFFFF)
  label.color = white
  return button
end

-- The Load page: a button for each save slot, below one another.
function demo_menu_list_slots()
  demo.menu_slots = {}
  if game == nil or not game:dir_build() then
    msg("demo: menu lists no slots")
    return
  end
  local count = game:dir_count()
  for i = 0, math.min(count, 5) - 1 do
    local slot = game:dir_name(i)
    local name = "mm_slot" .. i
    local button = demo_menu_button(name, 380, 200 + i * 70, slot)
    if button ~= nil then
      button:setEvent(3, "menu_on_click")
      demo.menu_slots[name] = slot
    end
  end
  msg("demo: menu lists ", count, " slot(s)")
end

-- The Options page's values: the volumes from the setup and the name.
function demo_menu_show_options()
  setup:init()
  menu_label("mm_music", "Music " .. math.floor(setup:volume(5) + 0.5) .. "%")
  menu_label("mm_effects", "Effects " .. math.floor(setup:volume(1) + 0.5) .. "%")
  local name = demo_global("demo.player_name")
  if name ~= nil then
    menu_label("mm_name", "Name: " .. name.value)
  end
end

-- The next volume step above the percent (after 100 comes 0).
local function next_volume(percent)
  for _, step in ipairs(VOLUME_STEPS) do
    if step > percent + 0.5 then
      return step
    end
  end
  return VOLUME_STEPS[1]
end

-- Sets the music and effects volumes (percent) and keeps them in setup.ini.
function demo_menu_set_volumes(music, effects)
  music = math.floor(music + 0.5)
  effects = math.floor(effects + 0.5)
  setup:init()
  local ok = setup:setVolume(5, music) and setup:setVolume(1, effects)
  setup:apply()
  msg("demo: volumes music ", music, " effects ", effects, ok and " kept" or " refused")
  if demo.menu_page == "menu_options" then
    demo_menu_show_options()
  end
  return ok
end

-- Restores a save slot, as the Load page's button does; then posts the
-- event named by demo.menu_after_load, if any.
function demo_menu_load(slot)
  demo_menu_close()
  local after = demo.menu_after_load
  demo.menu_after_load = nil
  local done = false
  if game ~= nil then
    game:restore(slot)
    done = game:state()
  end
  msg("demo: menu loads [", slot, "] ", done and "done" or "failed")
  if after ~= nil then
    sendEvent(after)
  end
  return done
end

-- The player's name was typed (Return) or the edit cancelled (Esc).
function demo_menu_name_done()
  local name = demo_global("demo.player_name")
  msg("demo: player name [", name ~= nil and name.value or "", "]")
  if demo.menu_page == "menu_options" then
    demo_menu_show_options()
  end
end

-- The handlers the tables name.
function menu_on_over(image)
  image:set("menu_button_hover")
end

function menu_on_out(image)
  image:set("menu_button")
end

function menu_on_click(image)
  local name = image:getName()
  demo_click()
  msg("demo: menu [", name, "] clicked")
  -- An item cannot delete itself inside its own handler: the button's work
  -- (which may change the page) is posted.
  sendEvent("demo_menu_run", name)
end

-- What a clicked button does.
function demo_menu_run(name)
  if name == "mm_new" then
    demo_menu_close()
    demo_menu_new_game()
  elseif name == "mm_load" then
    demo_menu_page("menu_load")
  elseif name == "mm_options" then
    demo_menu_page("menu_options")
  elseif name == "mm_quit" then
    demo_menu_quit()
  elseif name == "mm_back" then
    -- Leaving Options keeps its settings in setup.ini.
    if demo.menu_page == "menu_options" then
      setup:apply()
      msg("demo: options kept")
    end
    demo_menu_page("menu")
  elseif name == "mm_music" then
    setup:init()
    demo_menu_set_volumes(next_volume(setup:volume(5)), setup:volume(1))
  elseif name == "mm_effects" then
    setup:init()
    demo_menu_set_volumes(setup:volume(5), next_volume(setup:volume(1)))
  elseif name == "mm_name" then
    local field = stillframe:get("mm_name_text")
    local variable = demo_global("demo.player_name")
    if field ~= nil and variable ~= nil then
      unicode_edit.onFinish = "demo_menu_name_done"
      msg("demo: name field ", unicode_edit:edit(field, variable, false) and "edits" or "refused")
    end
  elseif demo.menu_slots ~= nil and demo.menu_slots[name] ~= nil then
    demo_menu_load(demo.menu_slots[name])
  end
end

-- New game: the first scene loads (the button's work runs in a posted
-- event, where a scene may load).
function demo_menu_new_game()
  msg("demo: new game")
  demo_load_first_scene()
end

-- Quit: the menu's items go and the game ends.
function demo_menu_quit()
  msg("demo: menu quits")
  if demo.scene_loaded then
    demo_hero_report("at the close")
  end
  local page = demo.menu_page ~= nil and MENU_PAGES[demo.menu_page] or {}
  for _, name in ipairs(page) do
    for _, item in ipairs({name, name .. "_text"}) do
      if stillframe:test(item) then
        stillframe:get(item).visible = false
      end
    end
  end
  demo_quit()
end
