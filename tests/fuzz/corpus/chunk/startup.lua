function startup()
  setCallback(CB_UPDATE, function(dt) t = (t or 0) + dt end)
end
