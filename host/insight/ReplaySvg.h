// The replay's picture for a station manager: the discount given in each
// hour of the day under the settings in use and under the proposed ones,
// side by side, as an SVG document.
#pragma once

#include <string>

#include "host/insight/Replay.h"

namespace selvo::host {

std::string DiscountByHourSvg(const TReplayReport& report);

}  // namespace selvo::host
