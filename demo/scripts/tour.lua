-- The tour played when the game runs without a display: save a slot, list
-- the slots, restore the slot, watch the sailor walk and hail, see the
-- harbour by night and by day, hear the hero walk out of sight, go to the
-- pier's end, where the moored boat sets off the pier's trigger and
-- advances the quest, walk the visitor along the quay, hear the keeper, then quit. Each step posts the
-- next one, so every step runs from the event queue like a player's action would, and
-- a step that cannot do its work still hands on, so the tour always ends.

-- A second of the scene's time before the save, so that frames have run:
-- the camera has moved and looked through the scene's visibility areas.
function demo_tour_wait_then_save()
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:create("demo_save_wait", 1.0) or nil
  if wait == nil then
    sendEvent("demo_tour_save")
  else
    -- Event 6 is the timer's "onAction".
    wait:setEvent(6, "demo_tour_waited")
  end
end

function demo_tour_waited()
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:get("demo_save_wait") or nil
  if wait ~= nil then
    wait:stop()
  end
  msg("demo: frames ran before the save")
  demo_ambient_report()
  demo_tour_screen_actions()
  -- The rain and the hero's walk (hero.lua) come before the save.
  demo_tour_watch()
end

-- The harbour's screen of actions: with the quest's pier switched on, the
-- cursor over the pier finds its action.
function demo_tour_screen_actions()
  actions.screen = "harbour"
  quest:setAction("harbour", "pier", 0)
  input.cursor:set(700, 400)
  local found = actions:test()
  msg("demo: under the cursor [", found > 0 and actions:layer_name(found) or "none", "]")
  quest:setAction("harbour", "pier", -1)
end

-- The harbour's two crates through their "Object": the first moved to the
-- quay, the second's box hidden. place is the waypoint the first goes to,
-- shown whether the second shows.
function demo_props_arrange(place, shown)
  local moved = world:object("harbour_crate_a")
  local hidden = world:object("harbour_crate_b")
  if moved == nil or hidden == nil then
    msg("demo: no harbour crates")
    return
  end
  moved:teleport(place, 0)
  if shown then
    hidden:element_show("castshadow_crate")
  else
    hidden:element_hide("castshadow_crate")
  end
end

-- Where the crates stand: the first's distance to the quay, the second's
-- box shown or hidden.
function demo_props_report(when)
  local hidden = world:object("harbour_crate_b")
  if hidden == nil then
    msg("demo: no harbour crates ", when)
    return
  end
  local near = world:distance2object("harbour_crate_a", "quay") < 0.01
  msg("demo: [harbour_crate_a] ", near and "at [quay]" or "away from [quay]", " ", when)
  msg("demo: [harbour_crate_b] ", hidden:element_visible("castshadow_crate") and "shown" or "hidden", " ", when)
end

function demo_tour_save()
  local timers = timersAPI:get()
  if timers ~= nil and timers:test("demo_save_wait") then
    timers:delete("demo_save_wait")
  end
  local slot = demo_global("demo.tour_slot")
  local visits = demo_global("demo.visits")
  if game == nil or slot == nil then
    msg("demo: nothing to save")
  else
    if visits ~= nil then
      visits.value = visits.value + 1
      msg("demo: visits ", visits.value)
    end
    local title = nil
    if locales ~= nil and locales:test("demo.save_name") then
      title = locales:get("demo.save_name")
    end
    demo_props_arrange("quay", false)
    demo_props_report("before the save")
    demo_character_arrange(true)
    demo_character_report("before the save")
    local saved
    if title ~= nil then
      saved = game:save(slot.value, title)
    else
      saved = game:save(slot.value)
    end
    msg("demo: save [", slot.value, "] ", saved and "written" or "failed")
    -- Changed after the save: the restore must bring the saved values back.
    if visits ~= nil then
      visits.value = 0
    end
    quest:setState("harbour", "pier", 0)
    demo_props_arrange("pier_end", true)
    demo_character_arrange(false)
  end
  -- The hero walks where a click sends him (hero.lua), then the lamp
  -- quest's step (keeper.lua) and the menu's turn.
  sendEvent("demo_tour_route")
end

function demo_tour_list()
  if game ~= nil and game:dir_build() then
    local count = game:dir_count()
    msg("demo: ", count, " save slot(s)")
    for i = 0, count - 1 do
      msg("demo: slot [", game:dir_name(i), "]")
    end
  else
    msg("demo: no save slots")
  end
  demo_list_animations()
  -- Another tune after the save: the restore brings back the saved one.
  demo_music("theme_quest")
  sendEvent("demo_tour_restore")
end

function demo_tour_restore()
  local slot = demo_global("demo.tour_slot")
  if game ~= nil and slot ~= nil then
    -- The restore replaces the game's state: only plain values are kept
    -- across it, variables are looked up again.
    local name = slot.value
    game:restore(name)
    msg("demo: restore [", name, "] ", game:state() and "done" or "failed")
    local visits = demo_global("demo.visits")
    if visits ~= nil then
      msg("demo: visits ", visits.value, " after restore")
    end
    msg("demo: trigger [pier_gate] ", trigger:test("pier_gate") and "restored" or "lost", ", counted ",
        trigger:count("pier_gate"))
    msg("demo: quest [", quest.name, "] stage ", quest:getState("harbour", "pier"), " after restore")
    demo_props_report("after restore")
    demo_character_report("after restore")
  else
    msg("demo: nothing to restore")
  end
  sendEvent("demo_tour_character")
end

-- The harbour by night, then by day again, each frame kept as the
-- screenshot of a save ("night", "day"), watched from the harbour's view
-- in the free view, where the scene's time runs. The time of day chooses
-- the light set each model takes: by night the one its placement names
-- (the night's darker set), by day the scene's default. A
-- second of the scene's time lets the frames take the change before each
-- save; then the hero walks out of the camera's sight (hero.lua).
function demo_tour_night()
  demo.night_camera = world.camera
  world.camera = 0
  game:camera("[30 harbour_view]")
  world.light = World.Night
  msg("demo: time of day [night]")
  demo_character_after(1.0, "demo_tour_night_kept")
end

-- The light set the quay's stones take now, named in the log.
function demo_lightset_report(when)
  local stones = world:object("harbour_stones")
  msg("demo: [harbour_stones] takes [", stones ~= nil and stones:current_lightset() or "none", "] ", when)
end

function demo_tour_night_kept()
  demo_character_step_over("demo_tour_night_kept")
  demo_lightset_report("by night")
  demo_character_frame("night")
  world.light = World.Day
  msg("demo: time of day [day]")
  demo_character_after(1.0, "demo_tour_day_kept")
end

function demo_tour_day_kept()
  demo_character_step_over("demo_tour_day_kept")
  demo_lightset_report("by day")
  demo_character_frame("day")
  if demo.night_camera ~= nil then
    world.camera = demo.night_camera
  end
  sendEvent("demo_tour_hero_away")
end

-- The visitor on the quay beyond the pier walks to the quay's end on its
-- physics capsule; its arrival (or a timer when it never arrives) hands on
-- to the keeper's greeting.
function demo_tour_walk()
  demo.walked = false
  local visitor = world:object("visitor")
  local control = visitor ~= nil and visitor:control() or nil
  if control == nil or not control:go2waypoint("quay_end") then
    msg("demo: the visitor cannot walk")
    sendEvent("demo_tour_talk")
    return
  end
  control:setEvent("onmovedone", "demo_tour_walked")
  -- The pier shows as a still frame, where the scene's objects and time
  -- stand still: the walk is watched from the quay's watching camera, held
  -- over the free view (which would start at the visitor's feet) for
  -- longer than the walk may take.
  demo.camera_before = world.camera
  world.camera = 0
  game:camera("[90 quay_watch]")
  msg("demo: [visitor] walks to [quay_end]")
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:create("demo_walk_wait", 60.0) or nil
  if wait ~= nil then
    -- Event 6 is the timer's "onAction".
    wait:setEvent(6, "demo_tour_walk_timeout")
  end
end

function demo_tour_walk_over()
  demo.walked = true
  game:camera("[0 quay_watch]")
  if demo.camera_before ~= nil then
    world.camera = demo.camera_before
  end
end

function demo_tour_walked(name)
  if demo.walked then
    return
  end
  demo_tour_walk_over()
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:get("demo_walk_wait") or nil
  if wait ~= nil then
    wait:stop()
  end
  msg("demo: [", name, "] arrived at [quay_end]")
  sendEvent("demo_tour_talk")
end

function demo_tour_walk_timeout()
  if not demo.walked then
    demo_tour_walk_over()
    msg("demo: [visitor] did not reach [quay_end]")
    sendEvent("demo_tour_talk")
  end
end

-- The pier scene: the boat lies inside the trigger box, so the trigger
-- reports it entering on the first frame after it is switched on; the
-- handler ends the tour. A timer ends it as well when nothing is reported.
function demo_tour_pier()
  demo.pier_reported = false
  local scene = demo_global("demo.pier_scene")
  if game == nil or scene == nil or not game:load(scene.value) then
    msg("demo: no pier scene")
    sendEvent("demo_tour_end")
    return
  end
  msg("demo: scene [", scene.value, "] is current")
  -- The visitor is the pier's main character.
  world:setMainCharacter("visitor")
  demo_rowboat_controller()
  msg("demo: trigger [pier_gate] ", trigger:enable("pier_gate", true) and "enabled" or "not enabled")
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:create("demo_pier_wait", 30.0) or nil
  if wait == nil then
    sendEvent("demo_tour_end")
  else
    -- Event 6 is the timer's "onAction".
    wait:setEvent(6, "demo_tour_pier_timeout")
  end
end

-- The rowboat takes a boat's controller, which its script object hands out.
function demo_rowboat_controller()
  local boat = world:object("rowboat")
  if boat == nil or not boat:add_control("boat") then
    msg("demo: the rowboat has no controller")
    return
  end
  local control = boat:control()
  msg("demo: rowboat controller [", control:classof(), "] action [", control:getState("action"), "]")
end

function demo_tour_pier_timeout()
  if not demo.pier_reported then
    msg("demo: nothing entered trigger [pier_gate]")
    demo.pier_reported = true
    sendEvent("demo_tour_end")
  end
end

-- Called by the trigger handlers of scene.lua once the boat is reported.
-- Only the boat counts: the hero walking to the pier's end, or a crate put
-- there, goes through the harbour's trigger without moving the tour on.
function demo_tour_pier_entered(name, object)
  if demo.tour and not demo.pier_reported and name == "pier_gate" and object == "rowboat" then
    demo.pier_reported = true
    msg("demo: trigger [pier_gate] counted ", trigger:count("pier_gate"))
    -- The boat at the pier's end advances the quest.
    quest:action("pier", "reach")
    demo_quest_run(2)
    sendEvent("demo_tour_walk")
  end
end

-- The keeper greets the visitor: the pier's main dialog plays its label
-- through the scene's frames; its end ends the tour, and so does a timer
-- when it never ends.
function demo_tour_talk()
  -- The keeper says his line: the voice plays with its lip track, which
  -- moves his jaw (silent until the line has a recorded voice).
  local keeper = world:object("keeper")
  if keeper ~= nil then
    msg("demo: keeper speaks for ", string.format("%.1f", keeper:voice("keeper.hello")), " s")
  end
  if dlg == nil or not dlg:createMain("keeper.pier") then
    msg("demo: no dialog")
    sendEvent("demo_tour_end")
    return
  end
  local talk = dlg:get("keeper.pier")
  talk.onFinished = "demo_tour_talked"
  msg("demo: dialog [keeper.pier] ", talk:play(1) and "plays" or "refused")
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:create("demo_talk_wait", 60.0) or nil
  if wait ~= nil then
    -- Event 6 is the timer's "onAction".
    wait:setEvent(6, "demo_tour_talked")
  end
end

-- The dialog's script command "keeper_says".
function dlg_keeper_says(dialog, data, line, speaker)
  msg("demo: ", dialog, " of [", data, "] says ", line, speaker and (" through " .. speaker) or "")
end

function demo_tour_talked(dialog)
  if demo.talked then
    return
  end
  demo.talked = true
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:get("demo_talk_wait") or nil
  if wait ~= nil then
    wait:stop()
  end
  msg("demo: dialog [", type(dialog) == "string" and dialog or "none", "] finished")
  sendEvent("demo_tour_end")
end

function demo_tour_end()
  msg("demo: tour done")
  -- The tour quits through the menu.
  demo_menu_open()
  if not demo_tour_press("mm_quit") then
    demo_quit()
  end
end

-- Presses a menu button as a click does: its release runs the button's
-- handler (event 3, "onUp"). False when the button is not shown.
function demo_tour_press(name)
  if not stillframe:test(name) then
    msg("demo: no menu button [", name, "]")
    return false
  end
  msg("demo: the tour presses [", name, "]")
  stillframe:get(name):call_event(3)
  return true
end

-- The menu's turn: open it, restore the slot through Load, set the volumes
-- in Options, back to the main page, close it and hand on. A press posts
-- the button's work, so each next move is posted after it.
function demo_tour_menu_load()
  demo_menu_open()
  demo_tour_press("mm_load")
  sendEvent("demo_tour_menu_slot")
end

function demo_tour_menu_slot()
  local slot = demo_global("demo.menu_slot")
  local button = nil
  for name, listed in pairs(demo.menu_slots or {}) do
    if slot ~= nil and listed == slot.value then
      button = name
    end
  end
  -- The restore runs the queued events while it loads: the next move is
  -- posted once it is over.
  demo.menu_after_load = "demo_tour_menu_options"
  if button == nil or not demo_tour_press(button) then
    msg("demo: the menu lists no slot [", slot ~= nil and slot.value or "", "]")
    demo.menu_after_load = nil
    sendEvent("demo_tour_menu_options")
  end
end

function demo_tour_menu_options()
  demo_menu_open()
  demo_tour_press("mm_options")
  sendEvent("demo_tour_menu_volumes")
end

function demo_tour_menu_volumes()
  demo_menu_set_volumes(40, 80)
  demo_tour_press("mm_back")
  sendEvent("demo_tour_menu_done")
end

function demo_tour_menu_done()
  demo_menu_close()
  sendEvent("demo_tour_list")
end

-- Animation events of the form "action=name" of a model without a
-- controller that takes the action (none of the demo's animations has one
-- now: the rocking rowboat's creak and splash are sound events).
function callback_animation_enter(object, action)
  msg("demo: animation event [", action, "] of [", object, "]")
end
