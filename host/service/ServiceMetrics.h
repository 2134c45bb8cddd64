// What the till service counts, in the Prometheus text format for
// /metrics: sales computed, errors by kind, loads of the settings, the
// database's state and a histogram of the time a sale took to compute.
// No library of the distribution writes this format; it is a few lines of
// text.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "host/journal/SaleJournal.h"

#include "host/service/TillService.h"

namespace selvo::host {

class TServiceMetrics {
 public:
  void SaleComputed(double seconds);
  // kind: "bad_request", "sale", "module", "journal", "timeout",
  // "too_large", "forbidden", "unauthorized", "too_many_connections", ...
  void Error(const std::string& kind);
  // journal: when the service writes one.
  std::string Text(const TServiceHealth& health, const std::optional<TJournalHealth>& journal) const;

 private:
  static constexpr std::array<double, 12> kBuckets = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
                                                      0.01,   0.025,   0.05,   0.1,   0.25,   1.0};
  mutable std::mutex mutex_;
  std::uint64_t sales_ = 0;
  std::array<std::uint64_t, kBuckets.size()> bucketCounts_{};
  double secondsSum_ = 0;
  std::map<std::string, std::uint64_t> errors_;
};

}  // namespace selvo::host
