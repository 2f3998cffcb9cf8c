// The link between a record and its script proxy.
//
// A script never holds a record (scene object, scene, viewport, resource)
// directly: it holds a proxy that names the record. Every record a script
// can hold carries a link (MDL_Proxy) to its proxy as its first field and
// releases it when it is destroyed, so script values of deleted records stay
// safe to hold. Records fire their script callbacks through the link. The
// proxies themselves, and the firing, belong to the script engine; the
// records see only this.
#pragma once

#include <cstdarg>
#include <cstdint>

class CTRL_ScriptEngine;
class LMP_Engine;
class LMP_Object;
class LMP_Proxy;

// The link of a record to its proxy. One such field is the first field of
// every record a script can hold (the first after the virtual table in
// MDL_Object). Null, or the record's proxy holding one count of it. Set it
// only through LMP_iAssignProxy and clear it with LMP_iReleaseProxy when the
// record is destroyed.
using MDL_Proxy = LMP_Proxy*;

class LMP_Proxy {
 public:
  LMP_Proxy() = default;
  LMP_Proxy(const LMP_Proxy&) = delete;
  LMP_Proxy& operator=(const LMP_Proxy&) = delete;

  // Unlinks the record if it still names this proxy; never deletes it.
  virtual ~LMP_Proxy();

  // Runs the script handler of a callback id with the caller's extra values
  // (see LMP_iFireCallback for what each id passes). The base has no
  // handlers and answers false.
  virtual bool dispatchCallback(LMP_Engine* engine, int id, va_list extra);
  // This proxy as an object proxy, or null for the other classes.
  virtual LMP_Object* asObject() { return nullptr; }

  // The record: an MDL_Object* for object proxies (see LMP_Object::object),
  // else the record's own type. Null when the proxy stands for nothing.
  void* model = nullptr;
  uint32_t refCount = 0;
  // The link that names this proxy, noted by LMP_iAssignProxy so that the
  // destructor can clear it; meaningful only while `model` is set.
  MDL_Proxy* link = nullptr;
};

// link := proxy (which the link does not name yet), with counts: a proxy the
// link named before loses its count and its model pointer (deleted at 0);
// the new proxy (may be null) gains one count. The proxy's model pointer is
// set by its constructor, not here.
void LMP_iAssignProxy(MDL_Proxy* link, LMP_Proxy* proxy);

// Called when a record is destroyed: the proxy loses its model pointer and
// the link's count (deleted at 0); the link becomes null. Null link: nothing.
void LMP_iReleaseProxy(MDL_Proxy* link);

// Fires a script callback of a record through its link. Refused (false, no
// script runs) when the link names no proxy, the proxy lost its record, the
// record is an object marked deleted, there is no engine, the engine has no
// controller, or the controller is halted. Otherwise the proxy's answer.
//
// Extra values by callback id (the dispatchers read them in this order):
//   CB_MOUSE_DOWN/UP/CLICK (objects): MDL_Object* hit object, const v3* point
//   CB_MOVED (objects): none
//   CB_MECHA, CB_POST_INTEGRATION (scenes): double time step
//   CB_PRE_COLLISION, CB_POST_COLLISION (scenes): const v3* point,
//       const v3* normal, double depth or impulse, MDL_Object* body A,
//       MDL_Object* volume A, MDL_Object* body B, MDL_Object* volume B
//       (null for a missing one)
//   CB_EVENT (viewports): const CTRL_Event* event
// Defined by the script engine, which runs the handlers.
bool LMP_iFireCallback(MDL_Proxy* link, CTRL_ScriptEngine* engine, int id, ...);
