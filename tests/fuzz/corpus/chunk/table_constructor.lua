return {1, 2, 3; x = 1, ['y'] = 2, [3] = {}, f = function() end,}
