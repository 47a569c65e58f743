-- The demo's music and its sounds played from scripts: the music loop on
-- the Music channel, the menu's click, and the fade of every sound before
-- the game ends. Global sounds go with each load (a new scene or a
-- restored game), so the music's name is kept in the global variable
-- "demo.music", which a save keeps too, and played again after the load.

-- The music's volume on its channel, 0..100.
local demo_music_volume = 60

-- Plays the named tune as the music (its alias in the sounds' package),
-- instead of the one that plays. Remembered for saves and later loads.
function demo_music(name)
  local kept = demo_global("demo.music")
  local playing = kept ~= nil and kept.value or ""
  if playing ~= "" and playing ~= name and soundManager:gTest(SoundManager.Music, playing) then
    soundManager:gDelete(SoundManager.Music, playing)
  end
  if kept ~= nil then
    kept.value = name
  end
  demo_music_play(name)
end

-- Plays the music the variables name unless it already plays: after a
-- scene's load and after a restore.
function demo_music_resume()
  local kept = demo_global("demo.music")
  if kept ~= nil and kept.value ~= "" then
    demo_music_play(kept.value)
  end
end

function demo_music_play(name)
  -- A saved game brings its music back by itself.
  if soundManager:gTest(SoundManager.Music, name) then
    msg("demo: music [", name, "] plays on")
    return
  end
  -- Without a sound device no sound is made.
  local music = soundManager:gPlay(SoundManager.Music, name, name)
  msg("demo: music [", name, "] ", music ~= nil and "plays" or "silent")
  if music ~= nil then
    music:volume(demo_music_volume)
  end
end

-- The menu's click: each its own global effect that goes by itself when
-- it has played, so that clicks may overlap.
function demo_click()
  demo.clicks = (demo.clicks or 0) + 1
  local click = soundManager:gPlay(SoundManager.Effect, "click_" .. demo.clicks, "click")
  msg("demo: click ", click ~= nil and "plays" or "silent")
  return click ~= nil
end

-- The steps of the fade before the game ends: the master volume falls to
-- nothing over a second, stays silent half a second more, then the game
-- quits. Without a sound device, or when no timer can run it, it quits at
-- once. True when the fade runs.
local demo_fade_step = 0.1
local demo_fade_steps = 10
local demo_fade_silent_steps = 5

function demo_sound_fade_then_quit()
  if demo.fading then
    return true
  end
  local kept = demo_global("demo.music")
  if soundManager:get_volume(SoundManager.Master) <= 0 or kept == nil
      or not soundManager:gTest(SoundManager.Music, kept.value) then
    return false
  end
  local timers = timersAPI:getGlobal()
  local timer = timers ~= nil and timers:create_system("demo_quit_fade", demo_fade_step) or nil
  if timer == nil then
    return false
  end
  timer.loop = true
  -- Event 6 is the timer's "onAction".
  timer:setEvent(6, "demo_sound_fade_step")
  demo.fading = 0
  msg("demo: sounds fade out")
  return true
end

function demo_sound_fade_step()
  demo.fading = demo.fading + 1
  local left = demo_fade_steps - demo.fading
  if left >= 0 then
    soundManager:set_volume(SoundManager.Master, 100 * left / demo_fade_steps)
  elseif -left >= demo_fade_silent_steps then
    local timers = timersAPI:getGlobal()
    if timers ~= nil and timers:test("demo_quit_fade") then
      timers:get("demo_quit_fade"):stop()
    end
    msg("demo: sounds faded")
    if world ~= nil then
      world:quitGame()
    end
  end
end

-- Which ambient loop of the scene plays: the set the camera's ground volume
-- chose ("sea" over the harbour), else the default set.
function demo_ambient_report()
  for _, set in ipairs({ "sea", "default" }) do
    if soundManager:test(SoundManager.AmbientLoop, "auto#amb@snd=" .. set) then
      msg("demo: ambient [", set, "] plays")
      return
    end
  end
  msg("demo: no ambient loop")
end
