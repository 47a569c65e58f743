-- The keeper on the harbour's pier and the lamp quest he gives. A click on
-- him (his screen action) plays his dialog: "keeper.greet" asks for the
-- lantern on the house to be lit, "keeper.thanks" once it burns. The
-- lantern's screen action is live while the quest waits for it; its quest
-- action lights it, ends the quest, shows a note and changes the music.
-- The lamp quest keeps its progress in the state of its object "lantern":
-- 0 not asked, 1 asked, 2 lit.

-- True in the harbour, where the keeper gives the lamp quest.
function demo_in_harbour()
  return game ~= nil and game.scene == "harbour"
end

-- On the harbour's load: the lantern is dark, the keeper idles, and his
-- screen action is live in the harbour's quest.
function demo_keeper_setup()
  local lantern = world:light("harbour.lantern")
  if lantern == nil then
    msg("demo: no lantern")
  else
    lantern:hide()
    msg("demo: lantern [lantern] dark in [", game.scene, "]")
  end
  local glow = world:particle("lantern_glow")
  if glow ~= nil then
    glow.visible = false
  end
  demo_character_idle("keeper")
  quest:setAction("harbour", "keeper", 0)
end

-- The screen action under the pointer, or nil outside the harbour.
function demo_action_under_cursor()
  if not demo_in_harbour() then
    return nil
  end
  actions.screen = "harbour"
  local found = actions:test()
  if found <= 0 then
    return nil
  end
  return actions:layer_name(found)
end

-- The cursor's hint: a pointing cursor over a live action.
function demo_cursor_hint()
  local name = demo_action_under_cursor()
  if demo_in_harbour() then
    actions:setCursor(name ~= nil and 1 or 0)
  end
  msg("demo: cursor hint [", name or "none", "]")
  return name
end

-- A click: on the keeper he talks, on the lantern its quest action runs.
-- True when the click was one of theirs.
function demo_keeper_click()
  local name = demo_cursor_hint()
  if name == "keeper" then
    demo_keeper_talk()
    return true
  elseif name == "lantern" then
    demo_lantern_use()
    return true
  end
  return false
end

-- The keeper's dialog as the scene's main dialog: his thanks once the
-- lantern burns, else his greeting.
function demo_keeper_talk()
  local label = quest:getState("lamp", "lantern") >= 2 and "keeper.thanks" or "keeper.greet"
  -- A scene has one main dialog: the other label's goes first.
  for _, other in ipairs({ "keeper.greet", "keeper.thanks" }) do
    if dlg ~= nil and other ~= label and dlg:test(other) then
      dlg:delete(other)
    end
  end
  if dlg == nil or (not dlg:test(label) and not dlg:createMain(label)) then
    msg("demo: no dialog [", label, "]")
    demo_keeper_talked(label)
    return
  end
  local talk = dlg:get(label)
  if talk:isPlay() then
    -- He is talking already: the click changes nothing.
    return
  end
  talk.onStarted = "demo_keeper_dialog_started"
  talk.onFinished = "demo_keeper_talked"
  talk.onSubtitleStarted = "demo_subtitle_show"
  talk.onSubtitleFinished = "demo_subtitle_hide"
  local playing = talk:play(1)
  msg("demo: dialog [", label, "] ", playing and "plays" or "refused")
  if not playing then
    demo_keeper_talked(label)
  end
end

function demo_keeper_dialog_started(dialog)
  msg("demo: dialog [", dialog, "] started")
end

function demo_keeper_talked(dialog)
  demo_subtitle_hide(dialog)
  -- The dialog's end stops every camera move: the harbour's view is held
  -- again, as the tour and the player's harbour view hold it.
  if demo_in_harbour() then
    if demo.tour then
      game:camera("[30 harbour_view]")
    else
      demo_hero_harbour_view()
    end
  end
  msg("demo: dialog [", dialog, "] over")
  if demo.on_talked ~= nil then
    local next = demo.on_talked
    demo.on_talked = nil
    sendEvent(next)
  end
end

-- Subtitles: the line's text (the locale "dlg.<group>.<line>", else the
-- line's name) as still-frame text in the "menu" font at the screen's foot.
function demo_subtitle_show(dialog, group, line)
  local image = stillframe:test("demo_subtitle") and stillframe:get("demo_subtitle") or stillframe:create("demo_subtitle")
  if image == nil then
    msg("demo: no subtitle")
    return
  end
  local key = "dlg." .. tostring(group) .. "." .. tostring(line)
  local text = (locales ~= nil and locales:test(key)) and locales:get(key) or tostring(line)
  image.x = 112
  image.y = 680
  image.width = 800
  image:setText(text, 24, "menu")
  image.visible = true
  msg("demo: subtitle [", line, "] shown")
end

function demo_subtitle_hide(dialog, group, line)
  if stillframe:test("demo_subtitle") then
    local image = stillframe:get("demo_subtitle")
    if image.visible then
      image.visible = false
      msg("demo: subtitle [", line or "", "] hidden")
    end
  end
end

-- The dialog's script command "keeper_asks": the lamp quest begins and
-- hears that the keeper asked (only where the lantern is).
function dlg_keeper_asks(dialog, data, what, speaker)
  if not demo_in_harbour() then
    return
  end
  if quest:getState("lamp", "lantern") >= 1 then
    msg("demo: the keeper asked before")
    return
  end
  msg("demo: quest [lamp] ", quest:begin("lamp") and "begun" or "not found")
  quest:event("asked")
  demo_quest_run(2)
end

-- The lantern's click: the quest action of its object.
function demo_lantern_use()
  msg("demo: [lantern] used")
  quest:action("lantern", "light")
  demo_quest_run(3)
end

-- Quest commands of the lamp quest (quests/lamp.txt).
function quest_lamp_ask()
  quest:setState("lamp", "lantern", 1)
  quest:setAction("lamp", "lantern", 0)
  quest:setAction("lamp", "keeper", 0)
  msg("demo: quest [lamp] asks for the lantern")
end

function quest_lamp_waits()
  return quest:getState("lamp", "lantern") == 1
end

-- The lantern's light comes on with its glow, whose start sound is the hum
-- at the lantern (a 3D sound placed where the glow is).
function quest_lamp_light()
  local lantern = world:light("harbour.lantern")
  if lantern ~= nil then
    lantern:show()
  end
  local glow = world:particle("lantern_glow")
  if glow ~= nil then
    glow.visible = true
  end
  msg("demo: lantern [lantern] lit, hum ", glow ~= nil and "plays" or "silent")
end

function quest_lamp_done()
  quest:setState("lamp", "lantern", 2)
  quest:setAction("lamp", "lantern", -1)
  msg("demo: quest [lamp] done")
  demo_note_show("demo.quest_complete")
  if demo_music ~= nil then
    demo_music("theme_quest")
  end
end

-- A note in the "menu" font high in the middle of the screen: the locale's
-- text, in the lantern's yellow.
function demo_note_show(key)
  local image = stillframe:test("demo_note") and stillframe:get("demo_note") or stillframe:create("demo_note")
  if image == nil then
    msg("demo: no note")
    return
  end
  local text = (locales ~= nil and locales:test(key)) and locales:get(key) or key
  image.x = 212
  image.y = 280
  image.width = 700
  -- The colour first: the text's glyphs take it when they are made.
  local colour = image.color
  colour.r = 1
  colour.g = 0.8
  colour.b = 0.1
  image.color = colour
  local written = image:setText(text, 64, "menu")
  image.visible = true
  msg("demo: note [", key, "] ", written and "shown" or "without text")
end

function demo_note_hide()
  if stillframe:test("demo_note") then
    stillframe:delete("demo_note")
  end
end

-- The tour's quest step, after the "tour" save: the hero stands by the
-- keeper, the pointer over the keeper shows the hint and its click plays
-- his dialog to its end; then the lantern's click lights it, and the slot
-- "quest" is saved while the note shows. A timer hands on when the dialog
-- never ends, so the tour always goes on to its list of slots.
function demo_tour_quest()
  -- The pier's gate waits for the pier scene: the crate the save step put
  -- at the pier's end must not set it off here.
  trigger:enable("pier_gate", false)
  local hero = world:object("hero")
  if hero ~= nil then
    hero:teleport("keeper_talk", 0)
    msg("demo: [hero] beside [keeper]")
  end
  demo.on_talked = "demo_tour_quest_talked"
  demo_character_after(60.0, "demo_tour_quest_talk_timeout")
  input.cursor:set(demo_keeper_help("keeper"))
  if not demo_keeper_click() then
    demo.on_talked = nil
    sendEvent("demo_tour_quest_talked")
  end
end

-- Where an action's hint points on the screen, or the screen's corner.
function demo_keeper_help(name)
  actions.screen = "harbour"
  local x = actions:get_layer_x(name)
  local y = actions:get_layer_y(name)
  return x or 0, y or 0
end

function demo_tour_quest_talk_timeout()
  demo_character_step_over("demo_tour_quest_talk_timeout")
  if demo.on_talked ~= nil then
    msg("demo: the keeper's dialog did not end")
    demo.on_talked = nil
    sendEvent("demo_tour_quest_talked")
  end
end

function demo_tour_quest_talked()
  demo_character_step_over("demo_tour_quest_talk_timeout")
  msg("demo: quest [lamp] stage ", quest:getState("lamp", "lantern"), " after the dialog")
  demo_character_after(1.5, "demo_tour_quest_lantern")
end

function demo_tour_quest_lantern()
  demo_character_step_over("demo_tour_quest_lantern")
  input.cursor:set(demo_keeper_help("lantern"))
  demo_keeper_click()
  -- Frames draw the lit lantern and the note before the save.
  demo_character_after(1.0, "demo_tour_quest_save")
end

function demo_tour_quest_save()
  demo_character_step_over("demo_tour_quest_save")
  -- Its timer cannot be deleted inside its own event: the save is posted.
  sendEvent("demo_tour_quest_saving")
end

-- The wait's timer goes first, so the slot holds no timer of the tour.
function demo_tour_quest_saving()
  local timers = timersAPI:get()
  if timers ~= nil and timers:test("demo_tour_quest_save_wait") then
    timers:delete("demo_tour_quest_save_wait")
  end
  msg("demo: save [quest] ", game:save("quest") and "written" or "failed")
  demo_note_hide()
  sendEvent("demo_tour_quest_restore")
end

-- The slot "quest" brings back the quest's state and the keeper's dialog.
function demo_tour_quest_restore()
  game:restore("quest")
  msg("demo: restore [quest] ", game:state() and "done" or "failed")
  msg("demo: quest [lamp] stage ", quest:getState("lamp", "lantern"), " after restore")
  msg("demo: dialog [keeper.greet] ", dlg:test("keeper.greet") and "kept" or "lost", " after restore")
  demo_note_hide()
  -- Talking to the keeper again: his thanks.
  demo.on_talked = "demo_tour_quest_thanked"
  demo_character_after(60.0, "demo_tour_quest_thanks_timeout")
  input.cursor:set(demo_keeper_help("keeper"))
  if not demo_keeper_click() then
    demo.on_talked = nil
    sendEvent("demo_tour_quest_thanked")
  end
end

function demo_tour_quest_thanks_timeout()
  demo_character_step_over("demo_tour_quest_thanks_timeout")
  if demo.on_talked ~= nil then
    msg("demo: the keeper's thanks did not end")
    demo.on_talked = nil
    sendEvent("demo_tour_quest_thanked")
  end
end

function demo_tour_quest_thanked()
  demo_character_step_over("demo_tour_quest_thanks_timeout")
  sendEvent("demo_tour_menu_load")
end
