// File layer and debug log.
//
// CTRL_File is the player's own kind of stream: scripts and media readers
// open files by name and get either a package entry or, for a name that
// begins with "//", a file on disk. The values 2 and 3 in place of a file
// pointer stand for the scripts' standard output and standard error; they go
// to the debug log and are never dereferenced.
//
// The debug log is the one diagnostic channel: printf-style text, cut at
// 1,023 characters, then a newline, to the debugger output. The debugger
// output is standard error unless a sink is installed (tests capture it).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class CTRL_Generic;

struct CTRL_File {
  uint8_t* data = nullptr;           // entry bytes once extracted
  char* name = nullptr;              // entry name, owned copy
  uint32_t size = 0;                 // bytes of the entry (0 before extraction)
  int32_t position = 0;              // read position, 0 to size
  uint8_t ownsData = 0;              // 1 when data was inflated and is freed with the file
  CTRL_Generic* controller = nullptr;  // whose package the entry comes from
  FILE* diskFile = nullptr;          // open disk stream for "//" names
  uint8_t isDisk = 0;                // 1 for a disk file
  uint8_t extracted = 0;             // the entry has been looked up (extraction happens once)
};

// Pseudo handles of the standard streams.
inline CTRL_File* CTRL_iStdHandle(uintptr_t h) { return reinterpret_cast<CTRL_File*>(h); }
#define CTRL_FILE_STDOUT (CTRL_iStdHandle(2))
#define CTRL_FILE_STDERR (CTRL_iStdHandle(3))
inline bool CTRL_iIsStdHandle(const CTRL_File* f) {
  uintptr_t v = reinterpret_cast<uintptr_t>(f);
  return v == 2 || v == 3;
}

enum { CTRL_LOG_BUFFER = 1024 };  // the formatted text is cut at 1,023 characters

// Opens a package entry or, for "//path", a disk file. Null on failure or
// without a controller. The mode is used only for disk files.
CTRL_File* CTRL_iFileOpen(CTRL_Generic* controller, const char* path, const char* mode);
// Disk file: fclose's result. Package entry: frees what it owns, 0.
// A pseudo handle is not closed (0).
int CTRL_iFileClose(CTRL_File* file);
// Byte counts: the element size is not used.
size_t CTRL_iFileRead(void* dst, size_t elemSize, size_t count, CTRL_File* file);
int CTRL_iFileWrite(const void* src, size_t elemSize, size_t count, CTRL_File* file);
int CTRL_iFileSeek(CTRL_File* file, long offset, int whence);
// The byte at the position (0 to 255), or -1 at the end.
int CTRL_iFileGetc(CTRL_File* file);
int CTRL_iFilePrintf(CTRL_File* file, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
int CTRL_iFileVPrintf(CTRL_File* file, const char* format, va_list args);

// The debug log.
void CTRL_iDebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CTRL_iDebugLogV(const char* format, va_list args);
// Logs text as it stands (no formatting), cut at 1,023 characters.
void CTRL_iDebugLogText(const char* text);

// The debugger output: one call per piece of text (the log sends the text,
// then "\n"). Without a sink it writes to standard error.
using CTRL_DebugSink = void (*)(void* user, const char* text);
void CTRL_iDebugOutput(const char* text);
// Installs a sink (null restores standard error); returns the previous one.
CTRL_DebugSink CTRL_iSetDebugSink(CTRL_DebugSink sink, void* user, void** previousUser = nullptr);

// Collects the debugger output while it lives (for tests); restores the
// previous sink when destroyed.
class CTRL_DebugCapture {
 public:
  CTRL_DebugCapture();
  ~CTRL_DebugCapture();
  CTRL_DebugCapture(const CTRL_DebugCapture&) = delete;
  CTRL_DebugCapture& operator=(const CTRL_DebugCapture&) = delete;
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  static void collect(void* user, const char* text);
  std::string text_;
  CTRL_DebugSink previous_;
  void* previousUser_;
};
