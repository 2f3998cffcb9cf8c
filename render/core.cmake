# The loading screen's picture: drawn at build time by our own generator
# (the player's name in the default font) and linked into the player.
add_executable(halvorin-splashgen "${CMAKE_SOURCE_DIR}/render/VIEW_SplashGen.cc")
target_link_libraries(halvorin-splashgen PRIVATE PkgConfig::DEPS)
set(HALVORIN_VIEW_SPLASH_PNG "${CMAKE_BINARY_DIR}/generated/VIEW_Splash.png")
add_custom_command(OUTPUT "${HALVORIN_VIEW_SPLASH_PNG}"
  COMMAND halvorin-splashgen "${HALVORIN_DEFAULT_FONT}" "${HALVORIN_VIEW_SPLASH_PNG}"
  DEPENDS halvorin-splashgen "${HALVORIN_DEFAULT_FONT}"
  COMMENT "Drawing the loading screen picture" VERBATIM)
configure_file("${CMAKE_SOURCE_DIR}/render/VIEW_SplashData.cpp.in"
               "${CMAKE_BINARY_DIR}/generated/VIEW_SplashData.cpp" @ONLY)
target_sources(halvorin_core PRIVATE "${CMAKE_BINARY_DIR}/generated/VIEW_SplashData.cpp")
set_source_files_properties("${CMAKE_BINARY_DIR}/generated/VIEW_SplashData.cpp" PROPERTIES
  OBJECT_DEPENDS "${HALVORIN_VIEW_SPLASH_PNG}")
