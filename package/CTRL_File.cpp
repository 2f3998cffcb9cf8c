// The file layer: package entries extracted on first use, "//" disk files,
// and the standard-stream handles 2 and 3 that go to the debug log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// The name after "//" as a path below the player's folder: "." and empty
// components dropped, ".." taking back the one before. False for an
// absolute name, one that climbs above the folder, and one that can only
// name a folder (ending in "/", "." or "..").
bool belowFolder(const char* rest, char* out, size_t capacity)
{
  if (rest[0] == '/') return false;
  size_t n = 0;
  bool plainLast = false;
  for (const char* p = rest;;) {
    const char* end = strchr(p, '/');
    if (!end) end = p + strlen(p);
    size_t len = size_t(end - p);
    plainLast = false;
    if (len == 2 && p[0] == '.' && p[1] == '.') {
      if (n == 0) return false;
      while (n > 0 && out[n - 1] != '/') n--;
      if (n > 0) n--;
    } else if (len > 0 && !(len == 1 && p[0] == '.')) {
      if (n + 1 + len >= capacity) return false;
      if (n) out[n++] = '/';
      memcpy(out + n, p, len);
      n += len;
      plainLast = true;
    }
    if (!*end) break;
    p = end + 1;
  }
  out[n] = 0;
  return plainLast;
}

// open(2) flags for an fopen mode; false for a mode fopen refuses.
bool openFlags(const char* mode, int* flags)
{
  int f;
  switch (mode[0]) {
    case 'r': f = O_RDONLY; break;
    case 'w': f = O_WRONLY | O_CREAT | O_TRUNC; break;
    case 'a': f = O_WRONLY | O_CREAT | O_APPEND; break;
    default: return false;
  }
  for (const char* c = mode + 1; *c; ++c) {
    if (*c == '+') f = (f & ~O_ACCMODE) | O_RDWR;
    if (*c == 'x') f |= O_EXCL;
  }
  *flags = f | O_CLOEXEC | O_NOCTTY;
  return true;
}

// Opens a regular file below the folder `base` (null: the current
// directory), one component at a time and never through a symbolic link, so
// that nothing outside the folder is reached and no device, pipe or socket
// is opened (a pipe's open or a device's endless read would hang the
// player). -1 when refused, with errno as for a missing file.
int openBelow(const char* base, char* path, int flags)
{
  int dir = open(base ? base : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  char* name = path;
  for (char* slash; (slash = strchr(name, '/')) != nullptr; name = slash + 1) {
    *slash = 0;
    int next = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    *slash = '/';
    close(dir);
    if (next < 0) {
      if (errno == ELOOP || errno == ENOTDIR) errno = ENOENT;
      return -1;
    }
    dir = next;
  }
  struct stat st;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
    close(dir);
    errno = ENOENT;
    return -1;
  }
  int fd = openat(dir, name, flags | O_NOFOLLOW | O_NONBLOCK, 0666);
  close(dir);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENXIO || errno == EISDIR) errno = ENOENT;
    return -1;
  }
  // Checked again on what was opened: the name may have changed meanwhile.
  int status = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    close(fd);
    errno = ENOENT;
    return -1;
  }
  return fd;
}

CTRL_File* openDisk(CTRL_Generic* controller, const char* path, const char* mode)
{
  // Relative to the package's directory when the package has a name with a
  // "/", else relative to the current directory; never outside it.
  const char* rest = path + 2;
  size_t prefix = 0;
  if (controller->packageName) {
    const char* slash = strrchr(controller->packageName, '/');
    if (slash) prefix = size_t(slash - controller->packageName) + 1;
  }
  if (prefix + strlen(rest) > kMaxDiskPath) return nullptr;
  char base[kMaxDiskPath + 1], below[kMaxDiskPath + 1];
  if (prefix) memcpy(base, controller->packageName, prefix);
  base[prefix] = 0;
  int flags;
  if (!mode) mode = "rb";
  if (!openFlags(mode, &flags)) {
    errno = EINVAL;
    return nullptr;
  }
  if (!belowFolder(rest, below, sizeof below)) {
    errno = ENOENT;
    return nullptr;
  }
  int fd = openBelow(prefix ? base : nullptr, below, flags);
  if (fd < 0) return nullptr;
  FILE* stream = fdopen(fd, mode);
  if (!stream) {
    close(fd);
    return nullptr;
  }
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
  int64_t from;
  switch (whence) {
    case SEEK_SET: from = 0; break;
    case SEEK_CUR: from = f->position; break;
    case SEEK_END: from = f->size; break;
    default: return -1;
  }
  // Compared before adding: any offset saturates at the two ends.
  const int64_t size = f->size;
  if (offset >= size - from) f->position = int32_t(size);
  else if (offset <= -from) f->position = 0;
  else f->position = int32_t(from + offset);
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
