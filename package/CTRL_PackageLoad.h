// The content package: loading (unscrambling, MD5 and RSA signature check,
// "config.xml" version check) and reading one file out of it.
//
// After unscrambling, a package is a run of ZIP local-file records starting
// at offset 0 (no central directory) followed by a 128-byte RSA signature,
// big-endian, of the MD5 digest of every byte before it.
#pragma once

#include <cstddef>
#include <cstdint>

class CTRL_Generic;
struct CTRL_Package;

struct CTRL_MD5Context {
  uint32_t count[2];   // bits hashed so far, low word first
  uint32_t state[4];   // chaining values A, B, C, D
  uint8_t buffer[64];  // input not yet transformed
  uint8_t digest[16];  // written by CTRL_iMD5Final
};

enum {
  CTRL_SIGNATURE_SIZE = 128,       // bytes of the RSA signature block
  CTRL_RECORD_HEADER = 30,         // bytes of a local-file record header
  CTRL_RECORD_MAGIC = 0x04034b50,  // first four bytes of a record
};

// Sets the context to its starting values (count 0 and the RFC 1321 state).
void CTRL_iMD5Init(CTRL_MD5Context* ctx);
void CTRL_iMD5Update(CTRL_MD5Context* ctx, const uint8_t* bytes, size_t length);
void CTRL_iMD5Final(CTRL_MD5Context* ctx);
void CTRL_iMD5Transform(uint32_t state[4], const uint8_t block[64]);

// XORs the buffer with the package key stream, last byte first. Scrambling
// and unscrambling are the same operation.
void CTRL_iScramble(uint8_t* bytes, size_t size);
// Unscrambles and hashes in one pass: the digest covers the first
// hashedSize bytes after unscrambling (hashedSize <= size).
void CTRL_iUnscrambleAndHash(uint8_t* bytes, size_t size, size_t hashedSize, uint8_t digest[16]);

// RSA check of a 16-byte digest against a 128-byte big-endian signature with
// the given modulus (128 bytes, big-endian) and exponent 65537.
bool CTRL_iCheckSignature(const uint8_t digest[16], const uint8_t signature[128],
                          const uint8_t modulus[128]);
// The modulus compiled into the player.
const uint8_t* CTRL_iPublicModulus();

// Frees a package buffer made with new, with its bytes. Null does nothing.
void CTRL_iFreePackage(CTRL_Package* package);

// Takes over the buffer (the controller owns it from now on, also on failure)
// and loads it; true when the package is accepted.
bool CTRL_iLoadPackage(CTRL_Generic* controller, CTRL_Package* package);
// Unscrambles the controller's package in place and checks its signature.
bool CTRL_iVerifyPackage(CTRL_Generic* controller);
// Reads "config.xml" and decides whether the content version is supported.
bool CTRL_iReadConfig(CTRL_Generic* controller);
// The same check on the text of a config.xml (NUL-terminated), reading the
// version over `version`: an absent or non-integer attribute leaves its field
// alone. *line is the line of the version element or of the parse error, 0
// when unknown. The newest version played is CTRL_CONFIG_NEWEST.
enum CTRL_ConfigCheck { CTRL_CONFIG_OK, CTRL_CONFIG_UNREADABLE, CTRL_CONFIG_NO_VERSION, CTRL_CONFIG_TOO_NEW };
inline constexpr int32_t CTRL_CONFIG_NEWEST[3] = {1, 6, 4};
CTRL_ConfigCheck CTRL_iCheckConfigText(const char* text, int32_t version[3], int* line);

// Finds the named file and hands out its bytes; true when the caller owns
// them (an inflated file, free with free()). Not found: *data null, *size 0,
// false. Stored files point into the package buffer. With the text flag the
// data are an owned copy ending in a NUL inside the stated size. A damaged
// deflate stream is not found; an unknown compression method stops the
// player, as does a text file without a final line end (whose bytes are
// still handed out).
bool CTRL_iReadPackageFile(CTRL_Generic* controller, const char* name, uint8_t** data,
                           uint32_t* size, bool text);

// One local-file record, located inside a package buffer.
struct CTRL_Record {
  uint64_t header;        // offset of the 30-byte header
  uint64_t data;          // offset of the data field
  uint32_t compressed;    // bytes of the data field
  uint32_t uncompressed;  // size after inflating (deflated records)
  uint16_t method;        // 0 stored, 8 deflate
};

// Walks the records from offset 0 and finds the first whose name is exactly
// the given bytes. Every part of a record must lie inside the buffer; the
// walk ends at the first place that holds no record.
bool CTRL_iFindRecord(const uint8_t* bytes, size_t size, const char* name, size_t nameLength,
                      CTRL_Record* record);

enum CTRL_ExtractStatus {
  CTRL_EXTRACT_OK,
  CTRL_EXTRACT_NOT_FOUND,
  CTRL_EXTRACT_BAD_METHOD,  // compression other than stored or deflate
  CTRL_EXTRACT_DAMAGED,     // the deflate stream does not inflate to its stated size
  CTRL_EXTRACT_NO_MEMORY,
};

struct CTRL_Extracted {
  uint8_t* data = nullptr;  // null unless status is OK
  uint32_t size = 0;
  bool owned = false;       // free() the data when set
  bool noNewline = false;   // a text file whose last byte was not CR, LF or NUL
  CTRL_ExtractStatus status = CTRL_EXTRACT_NOT_FOUND;
};

// The reader behind CTRL_iReadPackageFile, on a bare buffer. Data of size 0
// point at a static empty string. With the text flag the data are an owned
// copy whose last byte is NUL (the package buffer is never written), and a
// further NUL follows the stated size.
CTRL_Extracted CTRL_iExtractFile(const uint8_t* bytes, size_t size, const char* name, size_t nameLength,
                                 bool text);
