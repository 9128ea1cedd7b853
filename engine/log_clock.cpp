#include "log_clock.h"

#include "local_clock.h"

namespace kronvik {

CalendarTime ReadLogTime(const LogClock &clock)
{
    return BreakDownLocalTime(clock ? clock() : SystemClockSeconds());
}

} // namespace kronvik
