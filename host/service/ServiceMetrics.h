// What the till service counts, in the Prometheus text format for
// /metrics: sales computed, errors by kind, loads of the settings, the
// database's state, the calls waiting for the module, and two histograms:
// the time the calculation of a sale took, and the time a sale waited for
// the module (held by another sale or a load) before it.
// No library of the distribution writes this format; it is a few lines of
// text.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "host/journal/SaleJournal.h"

#include "host/service/TillService.h"

namespace selvo::host {

class TServiceMetrics {
 public:
  // A sale computed: the calculation's own seconds.
  void SaleComputed(double seconds);
  // A sale that reached the module, computed or refused: the seconds it
  // waited for the module.
  void SaleWaited(double seconds);
  // kind: "bad_request", "sale", "module", "journal", "timeout",
  // "too_large", "forbidden", "unauthorized", "too_many_connections", ...
  void Error(const std::string& kind);
  // journal: when the service writes one.
  std::string Text(const TServiceHealth& health, const std::optional<TJournalHealth>& journal) const;

 private:
  class THistogram {
   public:
    void Observe(double seconds);
    void Write(std::ostream& out, const char* name, const char* help) const;

   private:
    // A calculation takes tens of microseconds, a wait behind a load may
    // take a second.
    static constexpr std::array<double, 15> kBuckets = {
        0.00001, 0.000025, 0.00005, 0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1.0};
    std::array<std::uint64_t, kBuckets.size()> counts_{};
    std::uint64_t count_ = 0;
    double sum_ = 0;
  };

  mutable std::mutex mutex_;
  std::uint64_t sales_ = 0;
  THistogram calc_;
  THistogram wait_;
  std::map<std::string, std::uint64_t> errors_;
};

}  // namespace selvo::host
