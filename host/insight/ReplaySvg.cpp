#include "host/insight/ReplaySvg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace selvo::host {
namespace {

constexpr int kWidth = 960, kHeight = 440;
constexpr int kLeft = 80, kRight = 24, kTop = 70, kBottom = 60;
constexpr const char* kCurrentColour = "#4f7cac";
constexpr const char* kProposedColour = "#e8893a";

std::string Rubles(std::int64_t kopecks) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld,%02lld", static_cast<long long>(kopecks / 100),
                static_cast<long long>(std::llabs(kopecks % 100)));
  return text;
}

// A round step for the value axis: 1, 2 or 5 times a power of ten, about a
// fifth of the highest bar.
double AxisStep(double highest) {
  if (highest <= 0) return 1;
  const double rough = highest / 5;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= rough) return m * power;
  return 10 * power;
}

}  // namespace

std::string DiscountByHourSvg(const TReplayReport& report) {
  std::int64_t highest = 1;
  for (std::size_t h = 0; h < 24; ++h)
    highest = std::max({highest, report.current.discountByHour[h], report.proposed.discountByHour[h]});
  const double step = AxisStep(static_cast<double>(highest) / 100);
  const double top = std::ceil(static_cast<double>(highest) / 100 / step) * step;
  const double plotWidth = kWidth - kLeft - kRight, plotHeight = kHeight - kTop - kBottom;
  const double slot = plotWidth / 24, bar = slot * 0.36;
  auto y = [&](double rubles) { return kTop + plotHeight - rubles / top * plotHeight; };

  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << R"(<svg xmlns="http://www.w3.org/2000/svg" width=")" << kWidth << R"(" height=")" << kHeight
    << R"(" font-family="DejaVu Sans, Arial, sans-serif" font-size="12">)"
    << "\n"
    << R"(<rect width="100%" height="100%" fill="#ffffff"/>)"
    << "\n"
    << R"(<text x=")" << kLeft << R"(" y="28" font-size="18" font-weight="bold">Скидка по часам дня, руб.</text>)"
    << "\n";
  // The legend with each side's total.
  const std::pair<const char*, const TReplaySide*> sides[] = {{"Сейчас", &report.current},
                                                              {"Предложено", &report.proposed}};
  const char* colours[] = {kCurrentColour, kProposedColour};
  for (int i = 0; i < 2; ++i) {
    const int x = kLeft + i * 300;
    s << R"(<rect x=")" << x << R"(" y="40" width="14" height="14" fill=")" << colours[i] << R"("/>)"
      << R"(<text x=")" << x + 20 << R"(" y="52">)" << sides[i].first << ": " << Rubles(sides[i].second->discount)
      << " руб. за " << report.read - report.skipped << " продаж</text>\n";
  }
  // Grid and value axis.
  for (double v = 0; v <= top + step / 2; v += step) {
    s << R"(<line x1=")" << kLeft << R"(" x2=")" << kWidth - kRight << R"(" y1=")" << y(v) << R"(" y2=")" << y(v)
      << R"(" stroke=")" << (v == 0 ? "#555555" : "#dddddd") << R"("/>)"
      << R"(<text x=")" << kLeft - 8 << R"(" y=")" << y(v) + 4 << R"(" text-anchor="end">)" << v << "</text>\n";
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
    s << R"(<text x=")" << kLeft + (static_cast<double>(h) + 0.5) * slot << R"(" y=")" << kHeight - kBottom + 18
      << R"(" text-anchor="middle">)" << h << "</text>\n";
  }
  s << R"(<text x=")" << kLeft + plotWidth / 2 << R"(" y=")" << kHeight - 16
    << R"(" text-anchor="middle" fill="#444444">час дня, в который была продажа</text>)"
    << "\n</svg>\n";
  return s.str();
}

}  // namespace selvo::host
