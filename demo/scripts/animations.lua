-- The animations of the "levels" package, listed by group through the
-- script class "Animations" (the tour calls it).
function demo_list_animations()
  if animations == nil then
    msg("demo: no animation list")
    return
  end
  local groups = animations:group_count()
  msg("demo: ", groups, " animation group(s)")
  for i = 0, groups - 1 do
    local group = animations:group_name(i)
    animations.group = group
    msg("demo: animation group [", group, "] holds ", animations:count())
    for n = 0, animations:count() - 1 do
      msg("demo: animation [", animations:name(n), "]")
    end
  end
  msg("demo: group of [Rowboat] is [", animations:find_group("Rowboat"), "]")
end
