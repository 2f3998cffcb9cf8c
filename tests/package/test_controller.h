// A controller for the package tests: a script engine that does nothing, and
// a record of every error stop's text.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "controller/CTRL_Generic.h"
#include "pack.h"
#include "tests/package/null_engine.h"

class TestController : public CTRL_Generic {
 public:
  // The engine is owned (and deleted) by the controller.
  TestController() : CTRL_Generic(new NullEngine) {}
  void stopOnError(const char* format, ...) override {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    errors.push_back(text);
    CTRL_Generic::stopOnError("%s", text);
  }
  std::vector<std::string> errors;
};

// A package buffer (made with new, as the shell makes it) holding bytes.
inline CTRL_Package* newPackage(const PackBytes& bytes) {
  CTRL_Package* p = new CTRL_Package();
  if (!bytes.empty()) {
    CTRL_iResizeByteBuffer(p, uint32_t(bytes.size()));
    memcpy(p->data, bytes.data(), bytes.size());
  }
  return p;
}
