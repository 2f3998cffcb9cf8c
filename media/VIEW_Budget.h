// The memory budget of decoded media. Decoded samples, a video's sound and
// picture, decoded pictures with their GL copies and glyph bitmaps all count
// against one limit, so that a small file cannot decode to gigabytes. A
// reservation that would pass the limit is refused; the caller then fails
// as it does for undecodable data. One atomic counter: cheap, and safe from
// any thread.
#pragma once

#include <cstdint>

// The limit a process starts with: HALVORIN_MEDIA_BUDGET_MB (1 GiB unless
// the build says otherwise), or a quarter of the machine's memory when that
// is less.
uint64_t VIEW_iDefaultMediaBudget();

// Reserves bytes against the limit; false, with nothing reserved, when they
// would pass it.
bool VIEW_iBudgetReserve(uint64_t bytes);
// Gives back bytes reserved earlier.
void VIEW_iBudgetRelease(uint64_t bytes);

// Bytes reserved now, the limit, and how many reservations were refused so
// far (a caller compares the count around a decode to tell why it failed).
uint64_t VIEW_iBudgetUsed();
uint64_t VIEW_iBudgetLimit();
uint64_t VIEW_iBudgetRefusals();

// Sets the limit (0: back to the default). Tests use a small one.
void VIEW_iSetBudgetLimit(uint64_t bytes);
