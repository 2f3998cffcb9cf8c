#include <chrono>

#include "controller/CTRL_Generic.h"

namespace {

class SteadyClock : public CTRL_Clock {
public:
    int64_t counter() override
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    int64_t frequency() override { return 1000000000; }
};

SteadyClock steadyClock;
CTRL_Clock* currentClock = &steadyClock;

} // namespace

void CTRL_iSetClock(CTRL_Clock* clock)
{
    currentClock = clock ? clock : &steadyClock;
}

CTRL_Clock* CTRL_iGetClock()
{
    return currentClock;
}
