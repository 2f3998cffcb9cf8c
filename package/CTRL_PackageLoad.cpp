// Loading the content package into a controller: unscramble and verify,
// then check the content version in "config.xml".
#include "package/CTRL_PackageLoad.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/CTRL_Array.h"
#include "base/MDL_XmlValues.h"
#include "controller/CTRL_Generic.h"
#include "package/CTRL_Embedded.h"
#include "package/CTRL_File.h"

namespace {

bool versionSupported(const int32_t v[3]) {
  const int32_t* newest = CTRL_CONFIG_NEWEST;
  if (v[0] != newest[0]) return v[0] < newest[0];
  if (v[1] != newest[1]) return v[1] < newest[1];
  return v[2] <= newest[2];
}

}  // namespace

void CTRL_iFreePackage(CTRL_Package* package) {
  if (!package) return;
  CTRL_iResizeByteBuffer(package, 0);
  delete package;
}

bool CTRL_iReadPackageFile(CTRL_Generic* controller, const char* name, uint8_t** data, uint32_t* size,
                           bool text) {
  *data = nullptr;
  *size = 0;
  if (!controller || !name) return false;
  const CTRL_Package* pkg = controller->package;
  if (!pkg || pkg->size < 1 || !pkg->data) return false;
  CTRL_Extracted e = CTRL_iExtractFile(pkg->data, pkg->size, name, strlen(name), text);
  switch (e.status) {
    case CTRL_EXTRACT_OK:
      break;
    case CTRL_EXTRACT_NOT_FOUND:
      return false;
    case CTRL_EXTRACT_BAD_METHOD:
      controller->stopOnError("Unknown compression type for file %s", name);
      return false;
    case CTRL_EXTRACT_DAMAGED:
      CTRL_iDebugLog("Damaged compressed data in file %s", name);
      return false;
    case CTRL_EXTRACT_NO_MEMORY:
      CTRL_iDebugLog("Not enough memory to read file %s", name);
      return false;
  }
  if (e.noNewline) controller->stopOnError("No newline at end of file %s", name);
  *data = e.data;
  *size = e.size;
  return e.owned;
}

bool CTRL_iVerifyPackage(CTRL_Generic* controller) {
  CTRL_Package* pkg = controller ? controller->package : nullptr;
  if (!pkg || !pkg->data || pkg->size < CTRL_SIGNATURE_SIZE) {
    // Still unscrambled in place, so the buffer is in one known state.
    if (pkg && pkg->data) CTRL_iScramble(pkg->data, pkg->size);
    return false;
  }
  size_t signedPart = pkg->size - CTRL_SIGNATURE_SIZE;
  uint8_t digest[16];
  CTRL_iUnscrambleAndHash(pkg->data, pkg->size, signedPart, digest);
  return CTRL_iCheckSignature(digest, pkg->data + signedPart, CTRL_iPublicModulus());
}

CTRL_ConfigCheck CTRL_iCheckConfigText(const char* xml, int32_t version[3], int* line) {
  *line = 0;
  TiXmlDocument doc("config.xml");
  // Byte-wise parsing: the parser's UTF-8 mode steps over a multi-byte
  // sequence without looking at its bytes and can run past the end of a text
  // that stops inside one. The check needs no more than ASCII names and
  // numbers; a leading byte-order mark is skipped by hand.
  if (strncmp(xml, "\xEF\xBB\xBF", 3) == 0) xml += 3;
  // A document nested deeper than any configuration needs is refused before
  // the parser, which recurses once per level, sees it.
  if (!MDL_iXmlDepthWithin(xml)) return CTRL_CONFIG_UNREADABLE;
  doc.Parse(xml, nullptr, TIXML_ENCODING_LEGACY);
  if (doc.Error()) {
    *line = doc.ErrorRow();
    return CTRL_CONFIG_UNREADABLE;
  }
  TiXmlElement* root = doc.FirstChildElement("kolma");
  if (!root) root = doc.FirstChildElement("nerl");
  TiXmlElement* element = root ? root->FirstChildElement("version") : nullptr;
  if (!element) return CTRL_CONFIG_NO_VERSION;
  *line = element->Row();
  // An attribute that is absent or not an integer leaves its field alone.
  element->QueryIntAttribute("major", &version[0]);
  element->QueryIntAttribute("minor", &version[1]);
  element->QueryIntAttribute("patch", &version[2]);
  return versionSupported(version) ? CTRL_CONFIG_OK : CTRL_CONFIG_TOO_NEW;
}

bool CTRL_iReadConfig(CTRL_Generic* controller) {
  controller->stage = STAGE_CONFIG;
  uint8_t* text;
  uint32_t size;
  bool owned = CTRL_iReadPackageFile(controller, "config.xml", &text, &size, true);
  if (!text) return false;
  int line;
  bool ok = CTRL_iCheckConfigText(reinterpret_cast<const char*>(text), controller->version, &line) ==
            CTRL_CONFIG_OK;
  if (owned) free(text);
  return ok;
}

bool CTRL_iLoadPackage(CTRL_Generic* controller, CTRL_Package* package) {
  if (!controller) {
    CTRL_iFreePackage(package);
    return false;
  }
  if (controller->package != package) CTRL_iFreePackage(controller->package);
  controller->package = package;
  if (package && package->size > 0) {
    if (package->capacity != package->size) CTRL_iResizeByteBuffer(package, package->size);
    if (CTRL_iVerifyPackage(controller) && CTRL_iReadConfig(controller)) return true;
  }
  controller->stopOnError("Problem reading %s.\nCheck with your content provider.",
                          controller->packageName ? controller->packageName : "the content package");
  // Nothing is loaded, so the first frame never starts scripts; the buffer
  // goes with it.
  CTRL_iFreePackage(controller->package);
  controller->package = nullptr;
  return false;
}

CTRL_Package* CTRL_iReadEmbeddedPackage(const char* path) {
  if (!path) return nullptr;
  FILE* f = fopen(path, "rb");
  if (!f) return nullptr;
  CTRL_Package* pkg = nullptr;
  uint8_t trailer[CTRL_EMBED_TRAILER];
  uint64_t offset, length;
  off_t fileSize;
  if (fseeko(f, 0, SEEK_END) == 0 && (fileSize = ftello(f)) >= off_t(CTRL_EMBED_TRAILER) &&
      fseeko(f, fileSize - off_t(CTRL_EMBED_TRAILER), SEEK_SET) == 0 &&
      fread(trailer, 1, sizeof trailer, f) == sizeof trailer &&
      CTRL_iParseEmbedTrailer(trailer, uint64_t(fileSize), &offset, &length) && length <= 0xFFFFFFFFull) {
    pkg = new CTRL_Package();
    bool ok = length == 0 || (CTRL_iResizeByteBuffer(pkg, uint32_t(length)) &&
                              fseeko(f, off_t(offset), SEEK_SET) == 0 &&
                              fread(pkg->data, 1, size_t(length), f) == size_t(length));
    if (!ok) {
      CTRL_iFreePackage(pkg);
      pkg = nullptr;
    }
  }
  fclose(f);
  return pkg;
}
