file(GLOB _physics_sources "${CMAKE_SOURCE_DIR}/physics/*.cpp")
set_source_files_properties(${_physics_sources} PROPERTIES COMPILE_OPTIONS "-fno-math-errno")
