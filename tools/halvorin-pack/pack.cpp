#include "pack.h"

#include <sys/stat.h>
#include <tommath.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "package/CTRL_Embedded.h"
#include "package/CTRL_PackageLoad.h"

namespace fs = std::filesystem;

namespace {

// Largest package the player's buffer holds (its size is a u32).
const uint64_t kMaxPackage = 0xFFFFFFFFull;

struct MpInts {
  mp_int a, b, c, d, e, f;
  bool ok;
  MpInts() { ok = mp_init_multi(&a, &b, &c, &d, &e, &f, nullptr) == MP_OKAY; }
  ~MpInts() {
    if (ok) mp_clear_multi(&a, &b, &c, &d, &e, &f, nullptr);
  }
};

bool toBytes(const mp_int* v, size_t width, PackBytes* out) {
  size_t n = mp_ubin_size(v);
  if (n > width) return false;
  out->assign(width, 0);
  size_t written = 0;
  return mp_to_ubin(v, out->data() + (width - n), n, &written) == MP_OKAY && written == n;
}

std::string hex(const PackBytes& b) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t c : b) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

bool unhex(const std::string& s, PackBytes* out) {
  if (s.empty() || s.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    int v = 0;
    for (size_t k = i; k < i + 2; k++) {
      char c = s[k];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out->push_back(uint8_t(v));
  }
  return true;
}

void put16(PackBytes* o, uint32_t v) {
  o->push_back(uint8_t(v));
  o->push_back(uint8_t(v >> 8));
}
void put32(PackBytes* o, uint32_t v) {
  put16(o, v & 0xFFFF);
  put16(o, v >> 16);
}

}  // namespace

bool PACK_generateKey(PackKey* key, std::string* error) {
  MpInts m;  // a p, b q, c n, d phi, e e, f d
  if (!m.ok) return (*error = "out of memory"), false;
  mp_set_u32(&m.e, 65537);
  for (int attempt = 0; attempt < 64; attempt++) {
    // Two 512-bit primes with their top two bits set give a 1024-bit modulus.
    if (mp_prime_rand(&m.a, 40, 512, MP_PRIME_2MSB_ON) != MP_OKAY ||
        mp_prime_rand(&m.b, 40, 512, MP_PRIME_2MSB_ON) != MP_OKAY)
      return (*error = "prime generation failed"), false;
    if (mp_cmp(&m.a, &m.b) == MP_EQ) continue;
    mp_int p1, q1, g;
    if (mp_init_multi(&p1, &q1, &g, nullptr) != MP_OKAY) return (*error = "out of memory"), false;
    bool good = mp_sub_d(&m.a, 1, &p1) == MP_OKAY && mp_sub_d(&m.b, 1, &q1) == MP_OKAY &&
                mp_lcm(&p1, &q1, &m.d) == MP_OKAY && mp_gcd(&m.e, &m.d, &g) == MP_OKAY && mp_cmp_d(&g, 1) == MP_EQ &&
                mp_invmod(&m.e, &m.d, &m.f) == MP_OKAY && mp_mul(&m.a, &m.b, &m.c) == MP_OKAY &&
                mp_count_bits(&m.c) == 1024;
    mp_clear_multi(&p1, &q1, &g, nullptr);
    if (!good) continue;
    if (!toBytes(&m.c, 128, &key->modulus) || !toBytes(&m.f, 128, &key->privateExponent) ||
        !toBytes(&m.a, 64, &key->prime1) || !toBytes(&m.b, 64, &key->prime2))
      return (*error = "key conversion failed"), false;
    return true;
  }
  return (*error = "no usable key found"), false;
}

bool PACK_writeKey(const std::string& path, const PackKey& key, std::string* error) {
  std::string text =
      "# halvorin-pack signing key: RSA, 1024-bit modulus, public exponent 65537.\n"
      "# The private half signs packages; only the modulus goes into a player.\n";
  text += "modulus " + hex(key.modulus) + "\n";
  text += "exponent 010001\n";
  text += "private " + hex(key.privateExponent) + "\n";
  text += "prime1 " + hex(key.prime1) + "\n";
  text += "prime2 " + hex(key.prime2) + "\n";
  return PACK_writeFile(path, PackBytes(text.begin(), text.end()), false, error);
}

bool PACK_readKey(const std::string& path, PackKey* key, std::string* error) {
  PackBytes raw;
  if (!PACK_readFile(path, &raw, error)) return false;
  std::string text(raw.begin(), raw.end());
  *key = PackKey();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t sp = line.find(' ');
    if (sp == std::string::npos) return (*error = path + ": not a key file"), false;
    std::string field = line.substr(0, sp), value = line.substr(sp + 1);
    PackBytes* target = field == "modulus"   ? &key->modulus
                        : field == "private" ? &key->privateExponent
                        : field == "prime1"  ? &key->prime1
                        : field == "prime2"  ? &key->prime2
                                             : nullptr;
    if (field == "exponent") {
      if (value != "010001") return (*error = path + ": exponent must be 010001 (65537)"), false;
      continue;
    }
    if (!target) return (*error = path + ": unknown key field '" + field + "'"), false;
    if (!unhex(value, target)) return (*error = path + ": bad hex in field '" + field + "'"), false;
  }
  if (key->modulus.size() != 128 || !(key->modulus[0] & 0x80))
    return (*error = path + ": modulus is not 1024 bits"), false;
  if (key->privateExponent.size() != 128) return (*error = path + ": no private exponent (128 bytes)"), false;
  return true;
}

bool PACK_collectDirectory(const std::string& dir, std::vector<PackEntry>* entries, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return (*error = dir + ": not a directory"), false;
  entries->clear();
  fs::recursive_directory_iterator it(dir, fs::directory_options::follow_directory_symlink, ec), end;
  if (ec) return (*error = dir + ": " + ec.message()), false;
  for (; it != end; it.increment(ec)) {
    if (ec) return (*error = dir + ": " + ec.message()), false;
    if (!it->is_regular_file(ec)) continue;
    PackEntry e;
    e.name = it->path().lexically_relative(dir).generic_string();
    if (!PACK_readFile(it->path().string(), &e.data, error)) return false;
    entries->push_back(std::move(e));
  }
  std::sort(entries->begin(), entries->end(), [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  return true;
}

bool PACK_deflate(const PackBytes& in, PackBytes* out) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->resize(deflateBound(&zs, in.size()) + 16);
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  zs.next_out = out->data();
  zs.avail_out = uInt(out->size());
  int rc = deflate(&zs, Z_FINISH);
  out->resize(zs.total_out);
  deflateEnd(&zs);
  return rc == Z_STREAM_END;
}

void PACK_appendRecord(PackBytes* out, const std::string& name, uint16_t method, const PackBytes& data,
                       uint32_t uncompressedSize, const PackBytes& extra) {
  put32(out, CTRL_RECORD_MAGIC);
  put16(out, method == 8 ? 20 : 10);  // version needed
  put16(out, 0);                      // flags
  put16(out, method);
  put16(out, 0);                      // time 00:00:00
  put16(out, (0 << 9) | (1 << 5) | 1);  // date 1980-01-01
  put32(out, 0);                      // CRC-32: filled in by PACK_makeRecords
  put32(out, uint32_t(data.size()));
  put32(out, uncompressedSize);
  put16(out, uint32_t(name.size()));
  put16(out, uint32_t(extra.size()));
  out->insert(out->end(), name.begin(), name.end());
  out->insert(out->end(), extra.begin(), extra.end());
  out->insert(out->end(), data.begin(), data.end());
}

bool PACK_makeRecords(const std::vector<PackEntry>& entries, bool store, PackBytes* out, std::string* error) {
  out->clear();
  for (const PackEntry& e : entries) {
    if (e.name.empty() || e.name.size() > 0xFFFF)
      return (*error = "'" + e.name.substr(0, 64) + "': name does not fit a record (1 to 65535 bytes)"), false;
    if (uint64_t(e.data.size()) > 0xFFFFFFFFull)
      return (*error = e.name + ": file does not fit a record (over 4 GiB)"), false;
    PackBytes packed;
    uint16_t method = 0;
    if (!store && !e.data.empty() && PACK_deflate(e.data, &packed) && packed.size() < e.data.size()) method = 8;
    const PackBytes& body = method == 8 ? packed : e.data;
    size_t at = out->size();
    PACK_appendRecord(out, e.name, method, body, uint32_t(e.data.size()));
    uint32_t crc = uint32_t(crc32(0, e.data.data(), uInt(e.data.size())));
    for (int i = 0; i < 4; i++) (*out)[at + 14 + i] = uint8_t(crc >> (8 * i));
    if (uint64_t(out->size()) + CTRL_SIGNATURE_SIZE > kMaxPackage)
      return (*error = "package does not fit (over 4 GiB)"), false;
  }
  return true;
}

bool PACK_sign(const PackKey& key, const uint8_t digest[16], uint8_t signature[128], std::string* error) {
  MpInts m;
  if (!m.ok) return (*error = "out of memory"), false;
  PackBytes out;
  bool ok = mp_from_ubin(&m.a, digest, 16) == MP_OKAY &&
            mp_from_ubin(&m.b, key.privateExponent.data(), key.privateExponent.size()) == MP_OKAY &&
            mp_from_ubin(&m.c, key.modulus.data(), key.modulus.size()) == MP_OKAY &&
            mp_exptmod(&m.a, &m.b, &m.c, &m.d) == MP_OKAY && toBytes(&m.d, 128, &out);
  if (!ok) return (*error = "signing failed"), false;
  memcpy(signature, out.data(), 128);
  return true;
}

bool PACK_sealPackage(const PackBytes& records, const PackKey& key, PackBytes* package, std::string* error) {
  CTRL_MD5Context ctx;
  CTRL_iMD5Init(&ctx);
  CTRL_iMD5Update(&ctx, records.data(), records.size());
  CTRL_iMD5Final(&ctx);
  uint8_t sig[128];
  if (!PACK_sign(key, ctx.digest, sig, error)) return false;
  *package = records;
  package->insert(package->end(), sig, sig + 128);
  CTRL_iScramble(package->data(), package->size());
  return true;
}

bool PACK_embed(const PackBytes& player, const PackBytes& package, PackBytes* out, std::string* error) {
  uint64_t keep = player.size();
  if (player.size() >= CTRL_EMBED_TRAILER) {
    uint64_t off, len;
    if (CTRL_iParseEmbedTrailer(player.data() + player.size() - CTRL_EMBED_TRAILER, player.size(), &off, &len))
      keep = off;
  }
  if (package.size() > kMaxPackage) return (*error = "package too large to embed"), false;
  out->assign(player.begin(), player.begin() + keep);
  out->insert(out->end(), package.begin(), package.end());
  uint8_t trailer[CTRL_EMBED_TRAILER];
  CTRL_iMakeEmbedTrailer(package.size(), trailer);
  out->insert(out->end(), trailer, trailer + CTRL_EMBED_TRAILER);
  return true;
}

bool PACK_readFile(const std::string& path, PackBytes* out, std::string* error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return (*error = path + ": " + strerror(errno)), false;
  out->clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  bool bad = ferror(f);
  fclose(f);
  if (bad) return (*error = path + ": read error"), false;
  return true;
}

bool PACK_writeFile(const std::string& path, const PackBytes& data, bool executable, std::string* error) {
  // Write beside the target and rename, so a failed write leaves no half file.
  std::string tmp = path + ".tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  if (!f) return (*error = path + ": " + strerror(errno)), false;
  bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = fclose(f) == 0 && ok;
  if (ok && executable) ok = chmod(tmp.c_str(), 0755) == 0;
  if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    *error = path + ": " + strerror(errno);
    remove(tmp.c_str());
  }
  return ok;
}
