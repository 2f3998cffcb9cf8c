// Counts heap allocations made by this program's own code while counting is
// on: malloc, calloc, realloc and operator new are replaced by versions that
// count a call made from the executable's own code, then hand it to the C
// library's allocator. A call from inside the C or C++ library (strdup, a
// std::string member) counts when the first caller outside those libraries
// is ours. Allocations by other libraries (the GL driver, FreeType) are not
// ours and are not counted.
//
// Include this file in exactly one source file of a program. Sanitizer
// builds keep their own allocator: there ALLOC_COUNT_WORKS is 0 and nothing
// is counted.
#pragma once

#include <dlfcn.h>
#include <execinfo.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOC_COUNT_WORKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define ALLOC_COUNT_WORKS 0
#endif
#endif
#ifndef ALLOC_COUNT_WORKS
#define ALLOC_COUNT_WORKS 1
#endif

namespace alloc_count {

inline volatile bool counting = false;
inline volatile uint64_t calls = 0;
// Where the last counted call came from (for a failing test's message).
inline void* volatile lastCaller = nullptr;

struct Scope {
    Scope()
    {
#if ALLOC_COUNT_WORKS
        void* warm[2];
        backtrace(warm, 2);  // loads the unwinder before counting starts
#endif
        calls = 0;
        counting = true;
    }
    ~Scope() { counting = false; }
    uint64_t count() const { return calls; }
};

}  // namespace alloc_count

#if ALLOC_COUNT_WORKS

extern "C" {
extern char __executable_start;
extern char etext;
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
}

namespace alloc_count {

inline bool inProgram(void* p)
{
    return p >= (void*)&__executable_start && p < (void*)&etext;
}

// The C and C++ libraries, which allocate on behalf of their callers.
inline bool inRuntime(void* p)
{
    static void* libc = nullptr;
    static void* libcxx = nullptr;
    Dl_info info;
    if (!libc && dladdr((void*)&__libc_malloc, &info))
        libc = info.dli_fbase;
    if (!libcxx && dladdr((void*)&std::get_new_handler, &info))
        libcxx = info.dli_fbase;
    return dladdr(p, &info) && info.dli_fbase && (info.dli_fbase == libc || info.dli_fbase == libcxx);
}

inline thread_local bool walking = false;

inline void note(void* caller)
{
    if (!counting || walking)
        return;
    bool ours = inProgram(caller);
    if (!ours) {
        walking = true;  // the walk itself may allocate (the unwinder loads)
        if (inRuntime(caller)) {
            void* frames[24];
            int n = backtrace(frames, 24);
            int i = 0;
            while (i < n && frames[i] != caller)
                i++;
            while (i < n && inRuntime(frames[i]))
                i++;
            ours = i < n && inProgram(frames[i]);
            if (ours)
                caller = frames[i];
        }
        walking = false;
    }
    if (ours) {
        calls = calls + 1;
        lastCaller = caller;
    }
}

}  // namespace alloc_count

extern "C" void* malloc(size_t n)
{
    alloc_count::note(__builtin_return_address(0));
    return __libc_malloc(n);
}

extern "C" void* calloc(size_t n, size_t size)
{
    alloc_count::note(__builtin_return_address(0));
    return __libc_calloc(n, size);
}

extern "C" void* realloc(void* p, size_t n)
{
    alloc_count::note(__builtin_return_address(0));
    return __libc_realloc(p, n);
}

namespace alloc_count {

inline void* newBlock(size_t n, void* caller)
{
    note(caller);
    void* p = __libc_malloc(n ? n : 1);
    if (!p)
        std::abort();  // a test program out of memory has nothing left to test
    return p;
}

}  // namespace alloc_count

void* operator new(size_t n)
{
    return alloc_count::newBlock(n, __builtin_return_address(0));
}

void* operator new[](size_t n)
{
    return alloc_count::newBlock(n, __builtin_return_address(0));
}

void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    alloc_count::note(__builtin_return_address(0));
    return __libc_malloc(n ? n : 1);
}

void* operator new[](size_t n, const std::nothrow_t&) noexcept
{
    alloc_count::note(__builtin_return_address(0));
    return __libc_malloc(n ? n : 1);
}

#endif
