// The replay's picture for a station manager: the discount given in each
// hour of the day under the settings in use and under the proposed ones,
// side by side, and below them the difference the proposed settings make in
// each hour, as an SVG document. Numbers are written as a Russian reader
// writes them (1 234,50), never in exponent notation.
#pragma once

#include <cstdint>
#include <string>

#include "host/insight/Replay.h"

namespace selvo::host {

std::string DiscountByHourSvg(const TReplayReport& report);

// "1 продажу", "2 продажи", "5 продаж", "21 продажу": the count (its digits
// grouped) with the form of the word that Russian takes after it in "за ...".
std::string SalesCountText(std::int64_t count);

}  // namespace selvo::host
