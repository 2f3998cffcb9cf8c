local o = {} function o:m(a) return self, a end return o:m(1), o.m(o, 2)
