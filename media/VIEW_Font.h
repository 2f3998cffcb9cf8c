// Font resources: a FreeType face opened from memory, either over a font file
// of the package or over the font compiled into the player. Texts measure
// with it and the renderer draws glyph textures from it.
#pragma once

#include <cstdint>


struct FT_FaceRec_;

// A record's link to its script proxy (the same alias as script/LMP_Proxy.h).
class LMP_Proxy;
using MDL_Proxy = LMP_Proxy*;
struct FT_LibraryRec_;

// The process-wide FreeType library, made on first use (the shell makes it at
// start-up). Null when FreeType cannot start.
FT_LibraryRec_* VIEW_iFreeTypeLibrary();

// The font compiled into the player.
const uint8_t* VIEW_iDefaultFontData();
uint32_t VIEW_iDefaultFontSize();

// Decodes the code point at *p and moves *p past it. Lead bytes give the
// sequence length by the classic rule (5- and 6-byte forms included); a
// value above 2^31 - 1 becomes U+FFFD. A sequence cut short by the
// terminating 0 skips its lead byte only and answers -1. At the terminator
// it answers 0 and does not move.
int32_t VIEW_iDecodeUtf8(const char** p);

class VIEW_Font {
 public:
  // Keeps the bytes (the compiled-in font for names that begin with
  // "default" in any case); ownsBytes says whether they are ours to free.
  VIEW_Font(const char* name, const uint8_t* bytes, uint32_t size, uint8_t ownsBytes);
  VIEW_Font(const VIEW_Font&) = delete;
  VIEW_Font& operator=(const VIEW_Font&) = delete;
  // Closes the face, frees owned bytes (never the compiled-in ones) and the
  // name, and releases the proxy link.
  ~VIEW_Font();

  // Sets the face's nominal size for an on-screen size s in pixels when it
  // differs from the last one. False without a face.
  bool setScreenSize(double s);

  // Bounds {min x, min y, max x, max y} of a UTF-8 text in font units scaled
  // by 0.8888888888888888 / units per EM x size; y grows downwards from the
  // first baseline. All zero without a face or a text.
  void measure(const char* text, int32_t tabSize, double size, double bounds[4]);

  // Advance of the space glyph in font units (0 when missing).
  double spaceAdvanceUnits();

  MDL_Proxy proxy = nullptr;  // the script proxy, holding one count of it
  double lastSize = -1.0;
  FT_FaceRec_* face = nullptr;
  char* name = nullptr;
  const uint8_t* bytes = nullptr;
  uint8_t flag = 0;  // 1: bytes are owned
  uint32_t instanceId = 0;
  uint32_t state = 3;
  uint32_t byteCount = 0;
};
