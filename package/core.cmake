# The player accepts packages signed for one key: the modulus of the key file
# HALVORIN_KEY is compiled in as a generated header.
if(NOT EXISTS "${HALVORIN_KEY}")
  message(FATAL_ERROR "HALVORIN_KEY: no key file at ${HALVORIN_KEY} (make one with: halvorin-pack keygen FILE)")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${HALVORIN_KEY}")
file(STRINGS "${HALVORIN_KEY}" _halvorin_modulus REGEX "^modulus [0-9a-fA-F]+$")
list(LENGTH _halvorin_modulus _halvorin_count)
if(NOT _halvorin_count EQUAL 1)
  message(FATAL_ERROR "HALVORIN_KEY: ${HALVORIN_KEY} has no single 'modulus' line")
endif()
string(REGEX REPLACE "^modulus " "" _halvorin_hex "${_halvorin_modulus}")
string(LENGTH "${_halvorin_hex}" _halvorin_len)
if(NOT _halvorin_len EQUAL 256 OR NOT _halvorin_hex MATCHES "^[89a-fA-F]")
  message(FATAL_ERROR "HALVORIN_KEY: the modulus in ${HALVORIN_KEY} is not 1024 bits")
endif()
string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1," _halvorin_bytes "${_halvorin_hex}")
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/generated/halvorin_key.h" CONTENT
"// Generated from the key file named by HALVORIN_KEY; do not edit.
#pragma once
#define HALVORIN_KEY_FILE \"${HALVORIN_KEY}\"
static const unsigned char HALVORIN_PUBLIC_MODULUS[128] = {${_halvorin_bytes}};
" @ONLY)
