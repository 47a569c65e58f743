-- The sailors on the harbour's quay, the demo's animated characters,
-- played through their script objects "Object". The engine names each
-- event of their animations in the log as it fires (the pipe's smoke, the
-- footsteps with their composed sound names, the hum).

-- A character idles: its looping idle, played for a thousand passes.
function demo_character_idle(name)
  local sailor = world:object(name)
  if sailor == nil then
    msg("demo: no character [", name, "]")
    return false
  end
  local playing = sailor:sequence("[sailor.idle x1000]")
  msg("demo: [", name, "] idles ", playing and "with [sailor.idle]" or "refused")
  return playing
end

-- The animation on top of a character's body stack, or "none".
function demo_character_playing(sailor)
  local count = sailor:animation_count()
  return count > 0 and sailor:animation_name(count - 1) or "none"
end

-- Before the save: the sailor stands at its spot and walks, its mate's
-- body is hidden. After it: the sailor is sent back idling and the mate
-- shown, which the restore must undo.
function demo_character_arrange(saving)
  local sailor = world:object("sailor")
  local mate = world:object("sailor_mate")
  if sailor == nil or mate == nil then
    msg("demo: no sailors")
    return
  end
  if saving then
    sailor:teleport("sailor_spot", 0)
    sailor:sequence("[sailor.walk x2]")
    mate:element_hide("body")
  else
    sailor:teleport("quay", 0)
    demo_character_idle("sailor")
    mate:element_show("body")
  end
end

-- Where the sailor stands, what it plays and whether its mate shows.
function demo_character_report(when)
  local sailor = world:object("sailor")
  local mate = world:object("sailor_mate")
  if sailor == nil or mate == nil then
    msg("demo: no sailors ", when)
    return
  end
  local near = world:distance2object("sailor", "sailor_spot") < 0.01
  msg("demo: [sailor] ", near and "at [sailor_spot]" or "away from [sailor_spot]", " playing [",
      demo_character_playing(sailor), "] ", when)
  msg("demo: [sailor_mate] ", mate:element_visible("body") and "shown" or "hidden", " ", when)
end

-- The tour's step after the sailor's turn: the harbour by night and by day
-- (tour.lua), then the pier.
demo_tour_after_character = "demo_tour_night"

-- The sailor's turn of the tour, after the restore: it walks two strides
-- carried by its walk's root motion, hails with its voice and lip track,
-- and idles again; then the tour goes on. Each step waits on a
-- timer of the scene's time, which runs in the free view (the restored
-- harbour shows its still frame, where the scene's time stands still).
function demo_tour_character()
  local sailor = world:object("sailor")
  if sailor == nil then
    msg("demo: no sailor")
    sendEvent(demo_tour_after_character)
    return
  end
  demo.sailor_camera = world.camera
  world.camera = 0
  -- The free view starts where the main character stands: the camera cuts
  -- back to the harbour's view, where the free view stays.
  game:camera("[1 !harbour_view]")
  -- The main character's footsteps are heard wherever the camera looks.
  world:setMainCharacter("sailor")
  demo.sailor_from = world:distance2object("sailor", "sailor_mate")
  -- Its mate shows again, idling: the sailor's head turns toward it as it
  -- walks up to it, and the mate's toward the sailor (the bone tracker,
  -- which names whom each looks at in the log).
  local mate = world:object("sailor_mate")
  if mate ~= nil then
    mate:element_show("body")
  end
  local walking = sailor:sequence("[sailor.walk x2]")
  msg("demo: [sailor] walks ", walking and "with [sailor.walk]" or "refused")
  -- Two frames of the walk a second apart, each the screenshot of a save.
  demo_character_frame("walk_first")
  demo_character_after(1.0, "demo_character_second_frame")
  demo_character_after(2.1, "demo_character_hail")
end

-- A frame of the sailor's turn kept as the screenshot of a save slot.
function demo_character_frame(slot)
  msg("demo: frame [", slot, "] ", game:save(slot) and "kept" or "lost")
end

function demo_character_second_frame()
  demo_character_step_over("demo_character_second_frame")
  demo_character_frame("walk_second")
end

function demo_character_after(seconds, step)
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:create(step .. "_wait", seconds) or nil
  if wait == nil then
    sendEvent(step)
  else
    -- Event 6 is the timer's "onAction".
    wait:setEvent(6, step)
  end
end

-- A step's timer is stopped by its own handler (a timer cannot be deleted
-- inside its event).
function demo_character_step_over(step)
  local timers = timersAPI:get()
  local wait = timers ~= nil and timers:get(step .. "_wait") or nil
  if wait ~= nil then
    wait:stop()
  end
end

function demo_character_hail()
  demo_character_step_over("demo_character_hail")
  demo_character_hail_check()
end

function demo_character_hail_poll()
  local timers = timersAPI:get()
  local wait = timers ~= nil and demo.sailor_poll ~= nil and timers:get(demo.sailor_poll) or nil
  if wait ~= nil then
    wait:stop()
  end
  demo_character_hail_check()
end

function demo_character_hail_check()
  local sailor = world:object("sailor")
  local moved = math.abs(world:distance2object("sailor", "sailor_mate") - demo.sailor_from)
  -- On a machine too slow for its frames the clock passes at most two
  -- seconds a frame, and the walk's motion (its physics steps) less than
  -- that: the hail waits for the strides, looking every half second of the
  -- scene's time for up to half a minute. Each look has a timer of its own
  -- (a timer's name stays taken inside its own handler).
  demo.sailor_polls = (demo.sailor_polls or 0) + 1
  if moved <= 1.0 and demo.sailor_polls < 60 then
    demo.sailor_poll = "demo_sailor_poll_" .. demo.sailor_polls
    local timers = timersAPI:get()
    local wait = timers ~= nil and timers:create(demo.sailor_poll, 0.5) or nil
    if wait ~= nil then
      -- Event 6 is the timer's "onAction".
      wait:setEvent(6, "demo_character_hail_poll")
      return
    end
  end
  demo.sailor_polls = 0
  msg("demo: [sailor] walked ", moved > 1.0 and "its strides" or "nowhere", " playing [",
      demo_character_playing(sailor), "]")
  msg("demo: [sailor] hails for ", string.format("%.1f", sailor:voice("sailor.ahoy")), " s")
  -- Longer than the hail's 1.0 s by more than a slow frame of the scene.
  demo_character_after(1.6, "demo_character_rest")
end

function demo_character_rest()
  demo_character_step_over("demo_character_rest")
  demo_character_idle("sailor")
  if demo.sailor_camera ~= nil then
    world.camera = demo.sailor_camera
  end
  sendEvent(demo_tour_after_character)
end
