-- The hero, the harbour's main character: his controller capsule walks him
-- on the quay's floor until the wall across the quay stops him. Headless
-- the tour sends him along the trajectory "hero_walk"; in a window the
-- player walks him in first person (W, S, A, D or the arrows, Left Shift
-- to run, the mouse turns the view), R switches between his view and the
-- harbour's view and 1 turns the rain on and off.

-- The hero becomes the scene's main character: the player's keys and the
-- first-person view go to his controller.
function demo_hero_main()
  local hero = world:object("hero")
  if hero == nil or not world:setMainCharacter("hero") then
    msg("demo: no hero")
    return false
  end
  msg("demo: [hero] is the main character")
  return true
end

-- Where the hero stands, measured from the survey waypoints: the origin and
-- a point 10 along each axis (the script's objects tell their distance to a
-- waypoint, not their position).
function demo_hero_position()
  local d0 = world:distance2object("hero", "survey_origin")
  local dx = world:distance2object("hero", "survey_x")
  local dy = world:distance2object("hero", "survey_y")
  local dz = world:distance2object("hero", "survey_z")
  -- Rounding leaves tiny errors: they are shown as 0.00, not -0.00.
  local function axis(d)
    local v = (d0 * d0 - d * d + 100) / 20
    return math.abs(v) < 0.005 and 0 or v
  end
  return axis(dx), axis(dy), axis(dz)
end

function demo_hero_report(when)
  -- Only the harbour has him: elsewhere the lookup would log its error.
  if not demo_in_harbour() or world:object("hero") == nil then
    msg("demo: no hero ", when)
    return
  end
  local x, y, z = demo_hero_position()
  msg(string.format("demo: character at %.2f %.2f %.2f", x, y, z), " ", when)
end

-- The rain: the sky's rain record and the scene's rain together.
function demo_rain(on)
  demo.raining = on
  world.weather = on and 2 or 0
  if world.rain ~= nil then
    world:rain(on)
  end
  msg("demo: rain ", on and "on" or "off")
end

-- In a window: the harbour's view first, held by a camera move; R
-- switches to the hero's eyes (a camera move that ends at once, then the
-- "Game" view, which looks through the main character's eyes) and back. The movement keys reach the hero's controller by the default
-- bindings in his view.
function demo_hero_walk_start()
  -- Only the harbour has him: elsewhere the lookup would log its error.
  if not demo_in_harbour() or world:object("hero") == nil then
    msg("demo: no hero to walk")
    return
  end
  input.button.onCamera = "demo_on_switch_view"
  input.button.onHot1 = "demo_on_rain_key"
  demo_hero_harbour_view()
  demo_hero_report("at the start")
end

function demo_hero_harbour_view()
  demo.view = "harbour"
  world.camera = 0
  game:camera("[3600 !harbour_view]")
  msg("demo: view [harbour]")
  demo_pointer_update()
end

function demo_on_switch_view()
  if demo.view == "harbour" then
    demo.view = "first person"
    game:camera("[0 harbour_view]")
    world.camera = 1
    msg("demo: view [first person]")
    demo_pointer_update()
  else
    demo_hero_harbour_view()
  end
end

function demo_on_rain_key()
  demo_rain(not demo.raining)
end

-- The tour's steps over the harbour before its save "tour": the weather
-- turns to rain and the slot "dry" is saved (the rainy sky, no rain drawn
-- yet); the scene's rain shows; the hero walks his trajectory for a fixed
-- time of the scene and reports where the wall stopped him.
-- The views of the game follow the main character; the tour watches the
-- rain, the walk and both saves from the harbour's view, held by a camera
-- move that outlasts them. Its first frames run before the first save.
-- The weather turns before the frames that run up to the save "dry", so
-- the sky's update has published the rain record's horizon and fog (the
-- frame's clear colour below the dome) by then; the wait of the scene's
-- time lets the chimney's smoke rise above it however slow the frames.
function demo_tour_watch()
  msg("demo: camera holds ", game:camera("[30 harbour_view]") and "[harbour_view]" or "nothing")
  msg("demo: weather [rain]")
  world.weather = 2
  demo_character_after(1.5, "demo_tour_dry")
end

function demo_tour_dry()
  demo_character_step_over("demo_tour_dry")
  local saved = game ~= nil and game:save("dry") or false
  msg("demo: save [dry] ", saved and "written" or "failed")
  sendEvent("demo_tour_show_rain")
end

-- The scene's rain map over the quay is drawn by the scene's rain.
function demo_tour_show_rain()
  msg("demo: the scene's rain turns on")
  demo_rain(true)
  sendEvent("demo_tour_hero_walk")
end

function demo_tour_hero_walk()
  local hero = world:object("hero")
  -- His capsule gives him his character controller; without his physics
  -- description he is given one, which tells why he cannot walk.
  if hero ~= nil and hero:control() == nil then
    hero:add_control("character")
  end
  local control = hero ~= nil and hero:control() or nil
  demo_hero_report("before the walk")
  if control == nil or not control:go2trajectory("hero_walk") then
    msg("demo: [hero] cannot walk [hero_walk]")
  else
    msg("demo: [hero] walks [hero_walk]")
  end
  -- The camera stays at the harbour's view, where the scene's time runs.
  demo_character_after(5.0, "demo_tour_hero_walked")
end

function demo_tour_hero_walked()
  demo_character_step_over("demo_tour_hero_walked")
  demo_hero_report("after the walk")
  sendEvent("demo_tour_save")
end

-- Walking where the player clicks. The scene cannot tell the ground point
-- under the cursor, so in the harbour's view the walkable places are
-- screen actions named after their waypoints: a click over one sends the
-- main character to that waypoint, on a route searched on the scene's grid
-- "grid_harbour" and smoothed. True when he sets off.
function demo_walk_to_cursor()
  if demo.view == "first person" or actions == nil then
    return false
  end
  local hero = world:object("hero")
  local control = hero ~= nil and hero:control() or nil
  if control == nil then
    return false
  end
  actions.screen = "harbour"
  local found = actions:test()
  if found <= 0 then
    msg(string.format("demo: nothing to walk to at %d %d", input.cursor.x, input.cursor.y))
    return false
  end
  local place = actions:layer_name(found)
  if not control:go2waypoint(place) then
    msg("demo: [hero] cannot walk to [", place, "]")
    return false
  end
  local x, y, z = demo_hero_position()
  msg("demo: [hero] walks to [", place, "]", string.format(" from %.2f %.2f %.2f", x, y, z))
  return true
end

-- The places to walk to become live in the harbour's quest.
function demo_walk_places()
  for _, click in ipairs(demo_route_clicks) do
    quest:setAction("harbour", click.place, 0)
  end
end

-- The tour's walk after the save "tour": two clicks by the player's road
-- (the cursor over a place's action, then the click's handler), first to
-- the house's door behind the wall, then to the pier's end; both routes
-- lead round the wall's east end. Each place's waypoint lies at "at"
-- (x, z); x and y are the cursor over its action. His position is logged
-- four times a second of the scene's time; a walk ends when he stands
-- within the character's close distance (0.15) of the place or after 100
-- seconds, and the slots are listed after the last. (The limits of the
-- tour's waits for arrivals and dialogs only end a tour that went wrong,
-- so they lie far above a walk's time: on a slow machine a walk takes more
-- of the scene's time, the physics taking at most eight steps of 1/60 s a
-- frame.)
demo_route_clicks = {
  {place = "house_door", x = 656, y = 288, at = {-5, 9.5}},
  {place = "pier_end", x = 72, y = 330, at = {12, 4}},
}

function demo_tour_route()
  demo.route_leg = 0
  demo_tour_prop_link()
  demo_tour_route_next()
end

-- The crate the save step showed again (its box was hidden for the save)
-- goes with the hero on his clicked walks: linked to him through its
-- "Object", it takes his pose every update, however he walks. After the
-- walks it is let go where he stands.
function demo_tour_prop_link()
  local prop = world:object("harbour_crate_b")
  if prop == nil or world:object("hero") == nil or not prop:link_object("hero") then
    msg("demo: [harbour_crate_b] not linked to [hero]")
    return
  end
  msg(string.format("demo: [harbour_crate_b] linked to [hero], %.2f from him",
                    world:distance2object("harbour_crate_b", "hero")))
end

function demo_tour_prop_unlink()
  local prop = world:object("harbour_crate_b")
  if prop == nil or world:object("hero") == nil then
    return
  end
  msg(string.format("demo: [harbour_crate_b] %.2f from [hero] after the walks",
                    world:distance2object("harbour_crate_b", "hero")))
  prop:unlink()
end

-- The tour's step after the clicked walks.
demo_tour_after_route = "demo_tour_quest"

function demo_tour_route_next()
  demo.route_leg = demo.route_leg + 1
  local click = demo_route_clicks[demo.route_leg]
  if click == nil then
    demo_tour_prop_unlink()
    sendEvent(demo_tour_after_route)
    return
  end
  -- Each leg is watched from the harbour's view held anew: a hold that ran
  -- out half-way would leave the free view where the hero stood, inside
  -- his legs at the ground (a slow machine may take longer than a hold).
  game:camera("[30 harbour_view]")
  input.cursor:set(click.x, click.y)
  local timers = timersAPI:get()
  local name = "demo_route_" .. demo.route_leg
  local tick = timers ~= nil and timers:create(name, 0.25) or nil
  if tick == nil or not demo_on_action() then
    msg("demo: [hero] did not set off for [", click.place, "]")
    demo_tour_prop_unlink()
    sendEvent(demo_tour_after_route)
    return
  end
  demo.route_ticks = 0
  tick.loop = true
  -- Event 6 is the timer's "onAction".
  tick:setEvent(6, "demo_tour_route_tick")
end

function demo_tour_route_tick()
  local click = demo_route_clicks[demo.route_leg]
  demo.route_ticks = demo.route_ticks + 1
  local x, y, z = demo_hero_position()
  -- How far he is from the place, measured over the ground.
  local left = math.sqrt((x - click.at[1]) ^ 2 + (z - click.at[2]) ^ 2)
  msg(string.format("demo: [hero] on the way at %.2f %.2f %.2f", x, y, z))
  if left > 0.15 and demo.route_ticks < 400 then
    return
  end
  local timers = timersAPI:get()
  local tick = timers ~= nil and timers:get("demo_route_" .. demo.route_leg) or nil
  if tick ~= nil then
    tick:stop()
  end
  msg(string.format("demo: [hero] %s [%s], %.2f away, at %.2f %.2f %.2f",
                    left <= 0.15 and "arrived at" or "did not reach", click.place, left, x, y, z))
  sendEvent("demo_tour_route_next")
end

-- The hero walks out of the camera's sight, after the harbour by night
-- (tour.lua): the camera turns round to the water ("sea_view", the quay
-- behind it), and half a second of the scene's time later, once frames
-- have run with the camera turned, he walks from the wall back along the
-- quay to "hero_back". He is the main character again (the sailor was for
-- its turn): the main character's footsteps play where he is not drawn,
-- and the engine names each in the log. His position is checked four times
-- a second of the scene's time as on the clicked walks; then the camera
-- turns back and the tour goes on to the pier.
demo_hero_back = {-6, 4}

function demo_tour_hero_away()
  demo.away_camera = world.camera
  world.camera = 0
  local hero = world:object("hero")
  if hero == nil or hero:control() == nil or not demo_hero_main() then
    msg("demo: [hero] cannot walk out of sight")
    demo_tour_hero_away_over()
    return
  end
  -- Held as long as the walk may take (400 checks a quarter second apart).
  msg("demo: camera turns away from [hero] ", game:camera("[100 sea_view]") and "to [sea_view]" or "refused")
  demo_character_after(0.5, "demo_tour_hero_away_walk")
end

function demo_tour_hero_away_walk()
  demo_character_step_over("demo_tour_hero_away_walk")
  local hero = world:object("hero")
  local control = hero ~= nil and hero:control() or nil
  if control == nil or not control:go2waypoint("hero_back") then
    msg("demo: [hero] cannot walk to [hero_back]")
    demo_tour_hero_away_over()
    return
  end
  local timers = timersAPI:get()
  local tick = timers ~= nil and timers:create("demo_hero_away", 0.25) or nil
  if tick == nil then
    msg("demo: [hero] walks to [hero_back] unwatched")
    demo_tour_hero_away_over()
    return
  end
  msg("demo: [hero] walks to [hero_back] out of sight")
  demo.away_ticks = 0
  tick.loop = true
  -- Event 6 is the timer's "onAction".
  tick:setEvent(6, "demo_tour_hero_away_tick")
end

function demo_tour_hero_away_tick()
  demo.away_ticks = demo.away_ticks + 1
  local x, y, z = demo_hero_position()
  local left = math.sqrt((x - demo_hero_back[1]) ^ 2 + (z - demo_hero_back[2]) ^ 2)
  if left > 0.15 and demo.away_ticks < 400 then
    return
  end
  local timers = timersAPI:get()
  local tick = timers ~= nil and timers:get("demo_hero_away") or nil
  if tick ~= nil then
    tick:stop()
  end
  msg(string.format("demo: [hero] %s [hero_back] out of sight, %.2f away",
                    left <= 0.15 and "walked to" or "did not reach", left))
  demo_tour_hero_away_over()
end

-- The camera back at the harbour's view, and on to the pier.
function demo_tour_hero_away_over()
  game:camera("[1 !harbour_view]")
  if demo.away_camera ~= nil then
    world.camera = demo.away_camera
  end
  sendEvent("demo_tour_pier")
end
