#include "media/VIEW_Budget.h"

#include <atomic>

#include <unistd.h>

#ifndef HALVORIN_MEDIA_BUDGET_MB
#define HALVORIN_MEDIA_BUDGET_MB 1024
#endif

namespace {

std::atomic<uint64_t> used{0};
std::atomic<uint64_t> limit{0};  // 0 until first asked: the default
std::atomic<uint64_t> refusals{0};

uint64_t currentLimit()
{
    uint64_t l = limit.load(std::memory_order_relaxed);
    if (l == 0) {
        l = VIEW_iDefaultMediaBudget();
        limit.store(l, std::memory_order_relaxed);
    }
    return l;
}

}  // namespace

uint64_t VIEW_iDefaultMediaBudget()
{
    const uint64_t cap = uint64_t(HALVORIN_MEDIA_BUDGET_MB) << 20;
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return cap;
    uint64_t quarter = uint64_t(pages) * uint64_t(pageSize) / 4;
    return quarter < cap ? quarter : cap;
}

bool VIEW_iBudgetReserve(uint64_t bytes)
{
    if (bytes == 0) return true;
    const uint64_t l = currentLimit();
    uint64_t now = used.load(std::memory_order_relaxed);
    do {
        if (bytes > l || now > l - bytes) {
            refusals.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
    } while (!used.compare_exchange_weak(now, now + bytes, std::memory_order_relaxed));
    return true;
}

void VIEW_iBudgetRelease(uint64_t bytes)
{
    if (bytes == 0) return;
    // Never below 0, even if a caller gives back more than it holds.
    uint64_t now = used.load(std::memory_order_relaxed);
    while (!used.compare_exchange_weak(now, now > bytes ? now - bytes : 0, std::memory_order_relaxed)) {
    }
}

uint64_t VIEW_iBudgetUsed() { return used.load(std::memory_order_relaxed); }

uint64_t VIEW_iBudgetLimit() { return currentLimit(); }

uint64_t VIEW_iBudgetRefusals() { return refusals.load(std::memory_order_relaxed); }

void VIEW_iSetBudgetLimit(uint64_t bytes) { limit.store(bytes, std::memory_order_relaxed); }
