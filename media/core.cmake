# The default font is linked into the player: DejaVu Sans from Debian's
# fonts-dejavu-core, read by the assembler at build time.
set(HALVORIN_DEFAULT_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf" CACHE FILEPATH
    "TrueType file compiled into the player as its default font")
if(NOT EXISTS "${HALVORIN_DEFAULT_FONT}")
  message(FATAL_ERROR "default font ${HALVORIN_DEFAULT_FONT} not found (package fonts-dejavu-core)")
endif()
configure_file("${CMAKE_SOURCE_DIR}/media/VIEW_FontData.cpp.in"
               "${CMAKE_BINARY_DIR}/generated/VIEW_FontData.cpp" @ONLY)
target_sources(halvorin_core PRIVATE "${CMAKE_BINARY_DIR}/generated/VIEW_FontData.cpp")
set_source_files_properties("${CMAKE_BINARY_DIR}/generated/VIEW_FontData.cpp" PROPERTIES
  OBJECT_DEPENDS "${HALVORIN_DEFAULT_FONT}")

# Decoded media share one memory budget: this many MiB, or a quarter of the
# machine's memory when that is less.
set(HALVORIN_MEDIA_BUDGET_MB 1024 CACHE STRING "Memory budget of decoded media, MiB")
set_source_files_properties("${CMAKE_SOURCE_DIR}/media/VIEW_Budget.cpp" PROPERTIES
  COMPILE_DEFINITIONS "HALVORIN_MEDIA_BUDGET_MB=${HALVORIN_MEDIA_BUDGET_MB}")
