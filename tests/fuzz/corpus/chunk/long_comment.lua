--[[ unclosed comment
return 1
