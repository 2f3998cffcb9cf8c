// The debug log and the debugger output with its replaceable sink.
#include "package/CTRL_File.h"

#include <cstring>

namespace {
CTRL_DebugSink g_sink = nullptr;
void* g_sinkUser = nullptr;
}  // namespace

void CTRL_iDebugOutput(const char* text) {
  if (!text) return;
  if (g_sink) {
    g_sink(g_sinkUser, text);
    return;
  }
  fputs(text, stderr);
}

CTRL_DebugSink CTRL_iSetDebugSink(CTRL_DebugSink sink, void* user, void** previousUser) {
  CTRL_DebugSink old = g_sink;
  if (previousUser) *previousUser = g_sinkUser;
  g_sink = sink;
  g_sinkUser = sink ? user : nullptr;
  return old;
}

void CTRL_iDebugLogV(const char* format, va_list args) {
  char buffer[CTRL_LOG_BUFFER];
  if (!format) format = "";
  int n = vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) buffer[0] = 0;  // an encoding error logs an empty line
  CTRL_iDebugOutput(buffer);
  CTRL_iDebugOutput("\n");
}

void CTRL_iDebugLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CTRL_iDebugLogV(format, args);
  va_end(args);
}

void CTRL_iDebugLogText(const char* text) { CTRL_iDebugLog("%s", text ? text : ""); }

CTRL_DebugCapture::CTRL_DebugCapture() {
  previous_ = CTRL_iSetDebugSink(&CTRL_DebugCapture::collect, this, &previousUser_);
}

CTRL_DebugCapture::~CTRL_DebugCapture() { CTRL_iSetDebugSink(previous_, previousUser_); }

void CTRL_DebugCapture::collect(void* user, const char* text) {
  static_cast<CTRL_DebugCapture*>(user)->text_ += text;
}
