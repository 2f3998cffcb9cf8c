local s = [==[
]] ]=] text ]==] return s
