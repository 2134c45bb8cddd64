#include "platform/Clock.h"

#include <sys/time.h>

#include <ctime>
#include <utility>

#include "platform/DateUtils.h"

namespace selvo {
namespace {

std::function<double()> gClock;

double SystemNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm local{};
  time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &local);
  return ComposeDateTime(EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                         EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                                    static_cast<int>(tv.tv_usec / 1000)));
}

}  // namespace

double Now() { return gClock ? gClock() : SystemNow(); }

void SetClock(std::function<double()> clock) { gClock = std::move(clock); }

}  // namespace selvo
