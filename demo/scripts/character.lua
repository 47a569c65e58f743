-- The sailor on the harbour's quay, the demo's animated character, played
-- through its script object "Object". Its animations' events (footsteps,
-- a hum, a puff of its pipe) are named in the log by the engine as they
-- fire.

-- The sailor idles: its looping idle, played for a thousand passes.
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
