return 1 + 2 - 3 * 4 / 5 % 6 ^ 7 .. 'x' == 'y' and not nil or #'z' < 2 <= 3 > 4 >= 5 ~= 6
