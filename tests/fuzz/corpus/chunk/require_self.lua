local m = require('m') return m
