// Reading one file out of the package buffer.
//
// Offsets are computed in 64 bits: a record's sizes come from the file and
// must not be able to wrap past the bounds checks.
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "package/CTRL_PackageLoad.h"

namespace {

inline uint16_t load16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint8_t g_empty[1] = {0};

// Deflate never expands more than about 1032 to 1; a stated size beyond
// that cannot come from the stream, so it is refused before allocating.
bool plausibleInflatedSize(uint64_t compressed, uint64_t uncompressed) {
  return uncompressed <= compressed * 1040 + 1024;
}

bool inflateRaw(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(in);
  zs.avail_in = inSize;
  zs.next_out = out;
  // One byte of room beyond the stated size shows a stream that runs longer.
  zs.avail_out = outSize + 1;
  int rc = inflate(&zs, Z_FINISH);
  bool ok = rc == Z_STREAM_END && zs.total_out == outSize;
  inflateEnd(&zs);
  return ok;
}

}  // namespace

bool CTRL_iFindRecord(const uint8_t* bytes, size_t size, const char* name, size_t nameLength,
                      CTRL_Record* record) {
  if (!bytes || !name) return false;
  const uint64_t end = size;
  uint64_t p = 0;
  while (p + CTRL_RECORD_HEADER <= end) {
    const uint8_t* h = bytes + p;
    if (load32(h) != CTRL_RECORD_MAGIC) return false;
    uint64_t nameLen = load16(h + 26), extraLen = load16(h + 28), compressed = load32(h + 18);
    uint64_t nameAt = p + CTRL_RECORD_HEADER;
    uint64_t dataAt = nameAt + nameLen + extraLen;
    uint64_t next = dataAt + compressed;
    if (nameAt + nameLen > end || dataAt > end || next > end) return false;
    if (nameLen == nameLength && memcmp(bytes + nameAt, name, nameLength) == 0) {
      record->header = p;
      record->data = dataAt;
      record->compressed = uint32_t(compressed);
      record->uncompressed = load32(h + 22);
      record->method = load16(h + 8);
      return true;
    }
    p = next;
  }
  return false;
}

CTRL_Extracted CTRL_iExtractFile(const uint8_t* bytes, size_t size, const char* name, size_t nameLength,
                                 bool text) {
  CTRL_Extracted out;
  CTRL_Record r;
  if (!bytes || size < 1 || !CTRL_iFindRecord(bytes, size, name, nameLength, &r)) return out;
  const uint8_t* src = bytes + r.data;
  uint32_t n;
  uint8_t* data;
  bool owned;
  if (r.method == 0) {
    n = r.compressed;
    if (n == 0) {
      data = g_empty;
      owned = false;
    } else if (text) {
      // Text readers get a copy: the text rule below writes into it, and the
      // package keeps its bytes for binary readers of the same file.
      data = static_cast<uint8_t*>(malloc(size_t(n) + 1));
      if (!data) return (out.status = CTRL_EXTRACT_NO_MEMORY), out;
      memcpy(data, src, n);
      data[n] = 0;
      owned = true;
    } else {
      data = const_cast<uint8_t*>(src);
      owned = false;
    }
  } else if (r.method == 8) {
    n = r.uncompressed;
    if (!plausibleInflatedSize(r.compressed, n)) return (out.status = CTRL_EXTRACT_DAMAGED), out;
    data = static_cast<uint8_t*>(malloc(size_t(n) + 1));
    if (!data) return (out.status = CTRL_EXTRACT_NO_MEMORY), out;
    if (!inflateRaw(src, r.compressed, data, n)) {
      free(data);
      return (out.status = CTRL_EXTRACT_DAMAGED), out;
    }
    data[n] = 0;
    owned = true;
  } else {
    out.status = CTRL_EXTRACT_BAD_METHOD;
    return out;
  }
  if (text && n > 0) {
    uint8_t last = data[n - 1];
    out.noNewline = !(last == 13 || last == 10 || last == 0);
    data[n - 1] = 0;
  }
  out.data = data;
  out.size = n;
  out.owned = owned;
  out.status = CTRL_EXTRACT_OK;
  return out;
}
