::top:: do goto done end goto top ::done:: return
