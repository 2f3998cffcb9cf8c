-- The demo's greeting, written to the debug log at start.
local greeting = {}

local platforms = {
  [ENV_WINDOWS] = "Windows", [ENV_MACOSX] = "Mac OS X", [ENV_LINUX] = "Linux",
  [ENV_IOS] = "iOS", [ENV_ANDROID] = "Android", [ENV_WEB] = "the web",
}

function greeting.text()
  local language = getLanguage() or ""
  if language == "" then language = "default" end
  return string.format("Hello from the Halvorin demo (%s, %s, language %s)",
                       _VERSION, platforms[getPlatform()] or "an unknown platform", language)
end

return greeting
