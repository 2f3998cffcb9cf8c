// The package reader on arbitrary bytes: the record walk, extraction with
// and without the text rule, the signature check, and the embedded-package
// trailer. Every input is read both as an unscrambled record run and as a
// scrambled package, bare and through a controller.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/CTRL_Array.h"
#include "controller/CTRL_Generic.h"
#include "package/CTRL_Embedded.h"
#include "package/CTRL_File.h"
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

CTRL_Package* newPackage(const uint8_t* data, size_t size) {
  CTRL_Package* p = new CTRL_Package();
  if (size && CTRL_iResizeByteBuffer(p, uint32_t(size))) memcpy(p->data, data, size);
  return p;
}

// Through a controller: the whole load of a scrambled package, then the
// config check and the file layer on the bytes as an unscrambled package.
void viaController(const uint8_t* data, size_t size) {
  {
    CTRL_Generic ctl(nullptr);
    CTRL_iLoadPackage(&ctl, newPackage(data, size));
  }
  CTRL_Generic ctl(nullptr);
  ctl.package = newPackage(data, size);
  CTRL_iReadConfig(&ctl);
  for (const char* name : {"init.lua", "./data/a.txt"}) {
    CTRL_File* f = CTRL_iFileOpen(&ctl, name, "r");
    if (!f) continue;
    uint8_t buf[64];
    while (CTRL_iFileRead(buf, 1, sizeof buf, f) > 0) {
    }
    CTRL_iFileSeek(f, -3, SEEK_END);
    while (CTRL_iFileGetc(f) >= 0) {
    }
    CTRL_iFileClose(f);
  }
}

}  // namespace

// The debug log would only slow the fuzzer down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CTRL_iSetDebugSink([](void*, const char*) {}, nullptr);
  return 0;
}

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
  if (size <= 0xFFFFFFFFu) viaController(data, size);
  return 0;
}
