#include "host/insight/ReplaySvg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

namespace selvo::host {
namespace {

constexpr int kWidth = 960, kHeight = 600;
constexpr int kLeft = 96, kRight = 24, kTop = 96;
constexpr int kPlotHeight = 300;                         // the two sides' bars
constexpr int kDifferenceTop = kTop + kPlotHeight + 56;  // the difference panel
constexpr int kDifferenceHeight = 90;
constexpr const char* kCurrentColour = "#4f7cac";
constexpr const char* kProposedColour = "#e8893a";
constexpr const char* kMoreColour = "#3a9a5b";  // the proposed settings give more
constexpr const char* kLessColour = "#c0392b";

// A number of roubles as a Russian text: digits grouped by a no-break space,
// a comma before the decimals. Formatted with a fixed count of decimals, so
// that no value comes out in exponent notation.
std::string RussianNumber(double value, int decimals) {
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.*f", decimals, std::fabs(value));
  std::string whole = digits, fraction;
  if (const std::size_t point = whole.find('.'); point != std::string::npos) {
    fraction = "," + whole.substr(point + 1);
    whole.erase(point);
  }
  std::string grouped;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += "\u00a0";
    grouped += whole[i];
  }
  const bool negative = value < 0 && (grouped + fraction).find_first_not_of("0,\u00a0") != std::string::npos;
  return (negative ? "−" : "") + grouped + fraction;
}

std::string Rubles(std::int64_t kopecks) { return RussianNumber(static_cast<double>(kopecks) / 100, 2); }

std::string SignedRubles(std::int64_t kopecks) { return (kopecks > 0 ? "+" : "") + Rubles(kopecks); }

// A round step for the value axis: 1, 2 or 5 times a power of ten, about a
// fifth of `highest` (roubles).
double AxisStep(double highest) {
  if (highest <= 0) return 1;
  const double rough = highest / 5;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= rough) return m * power;
  return 10 * power;
}

// The decimals an axis of that step needs: none for whole roubles.
int StepDecimals(double step) { return step >= 1 ? 0 : step >= 0.1 ? 1 : 2; }

}  // namespace

std::string SalesCountText(std::int64_t count) {
  const std::int64_t tens = count % 100, ones = count % 10;
  const char* word = (ones == 1 && tens != 11)                              ? "продажу"
                     : (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14)) ? "продажи"
                                                                            : "продаж";
  return RussianNumber(static_cast<double>(count), 0) + " " + word;
}

std::string DiscountByHourSvg(const TReplayReport& report) {
  std::int64_t highest = 1, widest = 1;  // kopecks
  std::array<std::int64_t, 24> difference{};
  for (std::size_t h = 0; h < 24; ++h) {
    highest = std::max({highest, report.current.discountByHour[h], report.proposed.discountByHour[h]});
    difference[h] = report.proposed.discountByHour[h] - report.current.discountByHour[h];
    widest = std::max<std::int64_t>(widest, std::llabs(difference[h]));
  }
  const double step = AxisStep(static_cast<double>(highest) / 100);
  const double top = std::ceil(static_cast<double>(highest) / 100 / step) * step;
  const double plotWidth = kWidth - kLeft - kRight;
  const double slot = plotWidth / 24, bar = slot * 0.36;
  auto y = [&](double rubles) { return kTop + kPlotHeight - rubles / top * kPlotHeight; };
  const double differenceMiddle = kDifferenceTop + kDifferenceHeight / 2.0;
  const double differenceScale = (kDifferenceHeight / 2.0) / static_cast<double>(widest);

  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << std::fixed << std::setprecision(2);  // coordinates, never in exponent notation
  s << R"(<svg xmlns="http://www.w3.org/2000/svg" width=")" << kWidth << R"(" height=")" << kHeight
    << R"(" font-family="DejaVu Sans, Arial, sans-serif" font-size="12">)"
    << "\n"
    << R"(<rect width="100%" height="100%" fill="#ffffff"/>)"
    << "\n"
    << R"(<text x=")" << kLeft << R"(" y="28" font-size="18" font-weight="bold">Скидка по часам дня, руб.</text>)"
    << "\n";
  // The legend: each side's discount over the sales the till could make, and
  // the sales a sale ban refuses apart.
  const std::pair<const char*, const TReplaySide*> sides[] = {{"Сейчас", &report.current},
                                                              {"Предложено", &report.proposed}};
  const char* colours[] = {kCurrentColour, kProposedColour};
  for (int i = 0; i < 2; ++i) {
    const int x = kLeft + i * 420;
    const TReplaySide& side = *sides[i].second;
    s << R"(<rect x=")" << x << R"(" y="42" width="14" height="14" fill=")" << colours[i] << R"("/>)"
      << R"(<text x=")" << x + 20 << R"(" y="54">)" << sides[i].first << ": " << Rubles(side.discount) << " руб. за "
      << SalesCountText(report.Computed() - side.refused) << "</text>";
    if (side.refused > 0)
      s << R"(<text x=")" << x + 20 << R"(" y="72" fill="#666666">запрет продажи: )" << SalesCountText(side.refused)
        << " на " << Rubles(side.refusedSum) << " руб. (не скидка)</text>";
    s << "\n";
  }
  // Grid and value axis.
  const int decimals = StepDecimals(step);
  for (int k = 0; k * step <= top + step / 2; ++k) {
    const double v = k * step;
    s << R"(<line x1=")" << kLeft << R"(" x2=")" << kWidth - kRight << R"(" y1=")" << y(v) << R"(" y2=")" << y(v)
      << R"(" stroke=")" << (k == 0 ? "#555555" : "#dddddd") << R"("/>)"
      << R"(<text x=")" << kLeft - 8 << R"(" y=")" << y(v) + 4 << R"(" text-anchor="end">)"
      << RussianNumber(v, decimals) << "</text>\n";
  }
  // Two bars an hour.
  for (std::size_t h = 0; h < 24; ++h) {
    const double x = kLeft + static_cast<double>(h) * slot + slot * 0.12;
    const std::int64_t values[] = {report.current.discountByHour[h], report.proposed.discountByHour[h]};
    for (int i = 0; i < 2; ++i) {
      const double rubles = static_cast<double>(values[i]) / 100;
      s << R"(<rect x=")" << x + i * bar << R"(" y=")" << y(rubles) << R"(" width=")" << bar - 1 << R"(" height=")"
        << y(0) - y(rubles) << R"(" fill=")" << colours[i] << R"("><title>)" << h << ":00 " << sides[i].first << ": "
        << Rubles(values[i]) << " руб.</title></rect>\n";
    }
    s << R"(<text x=")" << kLeft + (static_cast<double>(h) + 0.5) * slot << R"(" y=")" << kTop + kPlotHeight + 18
      << R"(" text-anchor="middle">)" << h << "</text>\n";
  }
  // The difference the proposed settings make, hour by hour.
  const std::int64_t total = report.proposed.discount - report.current.discount;
  s << R"(<text x=")" << kLeft << R"(" y=")" << kDifferenceTop - 12 << R"(" font-weight="bold">)"
    << "Разница (предложено − сейчас): " << SignedRubles(total) << " руб.</text>\n"
    << R"(<line x1=")" << kLeft << R"(" x2=")" << kWidth - kRight << R"(" y1=")" << differenceMiddle << R"(" y2=")"
    << differenceMiddle << R"(" stroke="#555555"/>)"
    << R"(<text x=")" << kLeft - 8 << R"(" y=")" << differenceMiddle + 4 << R"(" text-anchor="end">0</text>)"
    << "\n";
  for (std::size_t h = 0; h < 24; ++h) {
    if (difference[h] == 0) continue;
    const double height = std::max(1.0, static_cast<double>(std::llabs(difference[h])) * differenceScale);
    const double x = kLeft + static_cast<double>(h) * slot + slot * 0.2;
    s << R"(<rect x=")" << x << R"(" y=")" << (difference[h] > 0 ? differenceMiddle - height : differenceMiddle)
      << R"(" width=")" << slot * 0.6 << R"(" height=")" << height << R"(" fill=")"
      << (difference[h] > 0 ? kMoreColour : kLessColour) << R"("><title>)" << h
      << ":00: " << SignedRubles(difference[h]) << " руб.</title></rect>\n";
  }
  // The scale only when there is a difference to measure.
  if (std::any_of(difference.begin(), difference.end(), [](std::int64_t d) { return d != 0; }))
    s << R"(<text x=")" << kLeft - 8 << R"(" y=")" << kDifferenceTop + 10 << R"(" text-anchor="end">)"
      << SignedRubles(widest) << "</text>"
      << R"(<text x=")" << kLeft - 8 << R"(" y=")" << kDifferenceTop + kDifferenceHeight << R"(" text-anchor="end">)"
      << SignedRubles(-widest) << "</text>\n";
  s << R"(<text x=")" << kLeft + plotWidth / 2 << R"(" y=")" << kHeight - 16
    << R"(" text-anchor="middle" fill="#444444">час дня, в который была продажа</text>)"
    << "\n</svg>\n";
  return s.str();
}

}  // namespace selvo::host
