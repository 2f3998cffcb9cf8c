if x then
  while true do
