-- The commands of the demo's harbour quest (quests/harbour.txt). A quest
-- function reads its arguments and its object from "quest".

function quest_say()
  msg("demo: quest says [", quest.arg1, "]")
end

-- The stage is the state of the quest's object "pier".
function quest_stage()
  quest:setState("harbour", "pier", tonumber(quest.arg1))
  msg("demo: quest stage ", quest.arg1)
end

-- A condition: the stage of the object the action was called on.
function quest_stage_is()
  return quest:getState("harbour", quest.object) == tonumber(quest.arg1)
end

-- Runs what the quest has pushed, one run a command.
function demo_quest_run(count)
  for i = 1, count do
    quest:run()
  end
end
