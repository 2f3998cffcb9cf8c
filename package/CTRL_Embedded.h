// Where the content package sits inside the player's executable.
//
// `halvorin-pack embed` appends the package to a copy of the player, then a
// 16-byte trailer: the package length (u64, little-endian) and the 8 bytes
// "HVRC0130". The player reads the tail of its own executable to find it, so
// a new package goes into a built player without compiling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Every player executable carries this text (its entry keeps it linked in),
// so that `halvorin-pack embed` can tell a player from any other file.
#define CTRL_PLAYER_MARK "HVRC0130:this file is a player"

inline constexpr char CTRL_EMBED_MAGIC[8] = {'H', 'V', 'R', 'C', '0', '1', '3', '0'};
inline constexpr size_t CTRL_EMBED_TRAILER = 16;

// Reads a trailer (the last 16 bytes of a file of `fileSize` bytes). True when
// it names a package that fits in front of it; *offset and *length locate it.
inline bool CTRL_iParseEmbedTrailer(const uint8_t trailer[16], uint64_t fileSize, uint64_t* offset,
                                    uint64_t* length) {
  if (fileSize < CTRL_EMBED_TRAILER || memcmp(trailer + 8, CTRL_EMBED_MAGIC, 8) != 0) return false;
  uint64_t n = 0;
  for (int i = 7; i >= 0; i--) n = n << 8 | trailer[i];
  if (n > fileSize - CTRL_EMBED_TRAILER) return false;
  *offset = fileSize - CTRL_EMBED_TRAILER - n;
  *length = n;
  return true;
}

inline void CTRL_iMakeEmbedTrailer(uint64_t length, uint8_t trailer[16]) {
  for (int i = 0; i < 8; i++) trailer[i] = uint8_t(length >> (8 * i));
  memcpy(trailer + 8, CTRL_EMBED_MAGIC, 8);
}

struct CTRL_Package;
// Copies the package embedded in the executable at `path` into a new
// buffer made with new (free it with CTRL_iFreePackage). Null when the file has none, the
// package is larger than a package buffer can hold, or reading fails.
CTRL_Package* CTRL_iReadEmbeddedPackage(const char* path);
