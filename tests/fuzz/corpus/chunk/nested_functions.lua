return function() return function() return function() return 1 end end end
