// The file layer: package entries extracted on first use, "//" disk files,
// and the standard-stream handles 2 and 3 that go to the debug log.
#include <cstdlib>
#include <cstring>

#include "controller/CTRL_Generic.h"
#include "package/CTRL_File.h"
#include "package/CTRL_PackageLoad.h"

namespace {

const size_t kMaxDiskPath = 1023;

char* copyString(const char* s) {
  size_t n = strlen(s);
  char* c = static_cast<char*>(malloc(n + 1));
  if (c) memcpy(c, s, n + 1);
  return c;
}

// Pulls the entry's bytes out of the package the first time they are needed.
// An entry that can no longer be read reads as empty.
void extract(CTRL_File* f) {
  if (f->extracted) return;
  f->extracted = 1;
  uint8_t* data;
  uint32_t size;
  f->ownsData = CTRL_iReadPackageFile(f->controller, f->name, &data, &size, false) ? 1 : 0;
  f->data = data;
  f->size = data ? size : 0;
  f->position = 0;
}

CTRL_File* openDisk(CTRL_Generic* controller, const char* path, const char* mode) {
  // Relative to the package's directory when the package has a name with a
  // "/", else relative to the current directory.
  const char* rest = path + 2;
  size_t prefix = 0;
  if (controller->packageName) {
    const char* slash = strrchr(controller->packageName, '/');
    if (slash) prefix = size_t(slash - controller->packageName) + 1;
  }
  size_t restLen = strlen(rest);
  if (prefix + restLen > kMaxDiskPath) return nullptr;
  char diskPath[kMaxDiskPath + 1];
  if (prefix) memcpy(diskPath, controller->packageName, prefix);
  memcpy(diskPath + prefix, rest, restLen + 1);
  FILE* stream = fopen(diskPath, mode ? mode : "rb");
  if (!stream) return nullptr;
  CTRL_File* f = new CTRL_File();
  f->name = copyString(path);
  f->controller = controller;
  f->diskFile = stream;
  f->isDisk = 1;
  return f;
}

}  // namespace

CTRL_File* CTRL_iFileOpen(CTRL_Generic* controller, const char* path, const char* mode) {
  if (!controller || !path) return nullptr;
  size_t len = strlen(path);
  if (len > 2 && path[0] == '/' && path[1] == '/') return openDisk(controller, path, mode);
  if (len > 2 && path[0] == '.' && path[1] == '/') {
    path += 2;
    len -= 2;
  }
  const CTRL_Package* pkg = controller->package;
  CTRL_Record record;
  if (!pkg || !pkg->data || !CTRL_iFindRecord(pkg->data, pkg->size, path, len, &record)) return nullptr;
  CTRL_File* f = new CTRL_File();
  f->name = copyString(path);
  if (!f->name) {
    delete f;
    return nullptr;
  }
  f->controller = controller;
  return f;
}

int CTRL_iFileClose(CTRL_File* f) {
  if (!f || CTRL_iIsStdHandle(f)) return 0;
  int result = 0;
  if (f->isDisk) {
    result = fclose(f->diskFile);
  } else if (f->ownsData) {
    free(f->data);
  }
  free(f->name);
  delete f;
  return result;
}

size_t CTRL_iFileRead(void* dst, size_t, size_t count, CTRL_File* f) {
  if (!f || CTRL_iIsStdHandle(f) || !dst) return 0;
  if (f->isDisk) return fread(dst, 1, count, f->diskFile);
  extract(f);
  size_t left = f->size - uint32_t(f->position);
  size_t n = count < left ? count : left;
  if (n) memcpy(dst, f->data + f->position, n);
  f->position += int32_t(n);
  return n;
}

int CTRL_iFileWrite(const void* src, size_t, size_t count, CTRL_File* f) {
  if (CTRL_iIsStdHandle(f)) {
    char text[CTRL_LOG_BUFFER];
    size_t n = count < CTRL_LOG_BUFFER - 1 ? count : CTRL_LOG_BUFFER - 1;
    if (src && n) memcpy(text, src, n);
    text[src ? n : 0] = 0;
    CTRL_iDebugLogText(text);
    return 0;
  }
  if (!f || !src) return 0;
  if (f->isDisk) return int(fwrite(src, 1, count, f->diskFile));
  return 0;
}

int CTRL_iFileSeek(CTRL_File* f, long offset, int whence) {
  if (!f || CTRL_iIsStdHandle(f)) return -1;
  if (f->isDisk) return fseek(f->diskFile, offset, whence);
  extract(f);
  int64_t pos;
  switch (whence) {
    case SEEK_SET: pos = offset; break;
    case SEEK_CUR: pos = int64_t(f->position) + offset; break;
    case SEEK_END: pos = int64_t(f->size) + offset; break;
    default: return -1;
  }
  if (pos < 0) pos = 0;
  if (pos > int64_t(f->size)) pos = f->size;
  f->position = int32_t(pos);
  return 0;
}

int CTRL_iFileGetc(CTRL_File* f) {
  if (!f || CTRL_iIsStdHandle(f)) return -1;
  if (f->isDisk) return fgetc(f->diskFile);
  extract(f);
  if (uint32_t(f->position) >= f->size) return -1;
  return f->data[f->position++];
}

int CTRL_iFileVPrintf(CTRL_File* f, const char* format, va_list args) {
  if (!f || !format) return -1;
  if (CTRL_iIsStdHandle(f)) {
    char text[CTRL_LOG_BUFFER];
    if (vsnprintf(text, sizeof text, format, args) < 0) text[0] = 0;
    CTRL_iDebugLogText(text);
    return 0;
  }
  if (f->isDisk) return vfprintf(f->diskFile, format, args);
  return 0;
}

int CTRL_iFilePrintf(CTRL_File* f, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = CTRL_iFileVPrintf(f, format, args);
  va_end(args);
  return r;
}
