// The interface through which the controller talks to the script engine,
// and the generic value exchanged with it.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"

class CTRL_Generic;
struct CTRL_Event;

enum CTRL_VariantType : uint32_t {
    VARIANT_NIL = 0,
    VARIANT_BOOLEAN = 1,
    VARIANT_INTEGER = 2,
    VARIANT_DOUBLE = 3,
    VARIANT_STRING = 4,
};

// A tagged value. A string payload is a malloc'd copy owned by whoever
// receives the variant; the receiver frees it.
struct CTRL_Variant {
    uint32_t type;
    union {
        uint8_t boolean;
        int32_t integer;
        double number;
        char* string;
    };
};

// A native function: args holds CTRL_Variant pointers in argument order;
// result arrives as nil and is set by the function.
typedef void (*CTRL_NativeFunction)(void* context, CTRL_Array<CTRL_Variant*>* args, CTRL_Variant* result);

struct CTRL_ScriptFunction {
    const char* name;               // null ends the list
    CTRL_NativeFunction function;
};

struct CTRL_ScriptModule {
    const char* name;               // name of the global table
    const CTRL_ScriptFunction* functions;
};

class CTRL_ScriptEngine {
public:
    virtual ~CTRL_ScriptEngine() {}
    // True when the script consumed the event (for EVENT_CLOSE: veto).
    virtual bool handleEvent(const CTRL_Event* event) = 0;
    virtual void update(double dt) = 0;
    virtual void aspectRatioChanged(double ratio) = 0;
    virtual bool start() = 0;
    virtual void registerModule(const CTRL_ScriptModule* module, void* context) = 0;
    virtual void setGlobal(const char* name, const CTRL_Variant* value) = 0;
    virtual bool getGlobal(const char* name, CTRL_Variant* out) = 0;
    virtual bool callFunction(const char* name, const CTRL_Array<CTRL_Variant*>* args, CTRL_Variant* result) = 0;
    virtual void collectGarbage() = 0;
    virtual void attachController(CTRL_Generic* controller) = 0;
};
