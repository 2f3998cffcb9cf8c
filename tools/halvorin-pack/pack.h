// halvorin-pack: keys, signed packages and embedding, as a library so the
// tests can build packages the same way the tool does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using PackBytes = std::vector<uint8_t>;

// An RSA signing key: 1024-bit modulus, public exponent 65537. Numbers are
// big-endian bytes; modulus and private exponent are 128 bytes long.
struct PackKey {
  PackBytes modulus;
  PackBytes privateExponent;
  PackBytes prime1, prime2;
};

struct PackEntry {
  std::string name;  // path inside the package, "/" separated
  PackBytes data;
};

// Each call answers false with a one-line reason in *error on failure.
bool PACK_generateKey(PackKey* key, std::string* error);
bool PACK_writeKey(const std::string& path, const PackKey& key, std::string* error);
bool PACK_readKey(const std::string& path, PackKey* key, std::string* error);

// Every regular file under dir, named by its path relative to dir, in
// byte order of the names.
bool PACK_collectDirectory(const std::string& dir, std::vector<PackEntry>* entries, std::string* error);

// ZIP local-file records for the entries, no central directory. Entries are
// deflated unless store is set or deflating does not make them smaller.
bool PACK_makeRecords(const std::vector<PackEntry>& entries, bool store, PackBytes* out, std::string* error);
// One record with the fields as given (for test fixtures of every shape).
void PACK_appendRecord(PackBytes* out, const std::string& name, uint16_t method, const PackBytes& data,
                       uint32_t uncompressedSize, const PackBytes& extra = {});
// Raw deflate (no zlib header) of the bytes.
bool PACK_deflate(const PackBytes& in, PackBytes* out);

// The 128-byte signature of an MD5 digest: digest^d mod n, big-endian.
bool PACK_sign(const PackKey& key, const uint8_t digest[16], uint8_t signature[128], std::string* error);
// Appends the signature of the records' digest, then scrambles everything.
bool PACK_sealPackage(const PackBytes& records, const PackKey& key, PackBytes* package, std::string* error);

// A copy of the player with `package` as its embedded package (an earlier
// embedded package is replaced).
bool PACK_embed(const PackBytes& player, const PackBytes& package, PackBytes* out, std::string* error);

bool PACK_readFile(const std::string& path, PackBytes* out, std::string* error);
bool PACK_writeFile(const std::string& path, const PackBytes& data, bool executable, std::string* error);
