// The "config.xml" check on arbitrary text: the input is stored as the
// package's config.xml and checked by a controller.
#include <cstring>

#include "base/CTRL_Array.h"
#include "controller/CTRL_Generic.h"
#include "package/CTRL_File.h"
#include "package/CTRL_PackageLoad.h"

namespace {

void put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

}  // namespace

// The debug log would only slow the fuzzer down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CTRL_iSetDebugSink([](void*, const char*) {}, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char name[] = "config.xml";
  const size_t nameLen = sizeof name - 1;
  if (size > (1u << 20)) return 0;
  CTRL_Package* pkg = new CTRL_Package();
  if (!CTRL_iResizeByteBuffer(pkg, uint32_t(CTRL_RECORD_HEADER + nameLen + size))) {
    delete pkg;
    return 0;
  }
  uint8_t* h = pkg->data;
  memset(h, 0, CTRL_RECORD_HEADER);
  put32(h, CTRL_RECORD_MAGIC);
  put32(h + 18, uint32_t(size));
  put32(h + 22, uint32_t(size));
  put16(h + 26, uint32_t(nameLen));
  memcpy(h + CTRL_RECORD_HEADER, name, nameLen);
  if (size) memcpy(h + CTRL_RECORD_HEADER + nameLen, data, size);
  CTRL_Generic ctl(nullptr);
  ctl.package = pkg;  // freed by the controller
  CTRL_iReadConfig(&ctl);
  return 0;
}
