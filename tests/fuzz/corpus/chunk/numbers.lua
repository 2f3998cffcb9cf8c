local a, b, c, d = 0x1p4, 1e308, .5e-3, 0xffffffffffffffff return a + b + c + d
