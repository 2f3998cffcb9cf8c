ï»return 2
