return 'abc
