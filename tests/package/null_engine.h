// A script engine that does nothing, for controllers that only load packages.
#pragma once

#include "base/CTRL_Array.h"
#include "controller/CTRL_ScriptEngine.h"

struct NullEngine : CTRL_ScriptEngine {
  bool handleEvent(const CTRL_Event*) override { return false; }
  void update(double) override {}
  void aspectRatioChanged(double) override {}
  bool start() override { return true; }
  void registerModule(const CTRL_ScriptModule*, void*) override {}
  void setGlobal(const char*, const CTRL_Variant*) override {}
  bool getGlobal(const char*, CTRL_Variant*) override { return false; }
  bool callFunction(const char*, const CTRL_Array<CTRL_Variant*>*, CTRL_Variant*) override { return false; }
  void collectGarbage() override {}
  void attachController(CTRL_Generic*) override {}
};
