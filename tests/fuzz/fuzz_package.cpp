// The package reader on arbitrary bytes: the record walk, extraction with
// and without the text rule, the signature check, and the embedded-package
// trailer. Every input is read both as an unscrambled record run and as a
// scrambled package.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/CTRL_Embedded.h"
#include "package/CTRL_PackageLoad.h"

namespace {

void extractAll(const uint8_t* data, size_t size) {
  static const char* const names[] = {"config.xml", "init.lua", "data/a.txt"};
  for (const char* name : names) {
    for (bool text : {false, true}) {
      CTRL_Extracted e = CTRL_iExtractFile(data, size, name, strlen(name), text);
      if (e.status == CTRL_EXTRACT_OK && e.size) {
        // Touch every byte handed out (and the NUL after text).
        volatile uint8_t sink = 0;
        for (uint32_t i = 0; i < e.size; i++) sink = sink + e.data[i];
        if (text) sink = sink + e.data[e.size];
      }
      if (e.owned) free(e.data);
    }
  }
  // The first record's own name, so deeper records get walked too.
  if (size >= CTRL_RECORD_HEADER) {
    size_t nameLen = data[26] | data[27] << 8;
    if (CTRL_RECORD_HEADER + nameLen <= size) {
      std::vector<char> name(data + CTRL_RECORD_HEADER, data + CTRL_RECORD_HEADER + nameLen);
      CTRL_Extracted e = CTRL_iExtractFile(data, size, name.data(), name.size(), true);
      if (e.owned) free(e.data);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly-sized heap copies so that any read past the end is caught.
  uint8_t* buf = static_cast<uint8_t*>(calloc(size ? size : 1, 1));
  if (!buf) return 0;
  if (size) memcpy(buf, data, size);
  extractAll(buf, size);

  if (size >= CTRL_SIGNATURE_SIZE) {
    uint8_t digest[16];
    CTRL_iUnscrambleAndHash(buf, size, size - CTRL_SIGNATURE_SIZE, digest);
    if (CTRL_iCheckSignature(digest, buf + size - CTRL_SIGNATURE_SIZE, CTRL_iPublicModulus())) extractAll(buf, size);
  }

  if (size >= CTRL_EMBED_TRAILER) {
    uint64_t offset, length;
    if (CTRL_iParseEmbedTrailer(data + size - CTRL_EMBED_TRAILER, size, &offset, &length))
      extractAll(data + offset, size_t(length));
  }
  free(buf);
  return 0;
}
