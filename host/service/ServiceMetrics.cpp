#include "host/service/ServiceMetrics.h"

#include <sstream>

namespace selvo::host {

void TServiceMetrics::SaleComputed(double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++sales_;
  secondsSum_ += seconds;
  for (std::size_t i = 0; i < kBuckets.size(); ++i)
    if (seconds <= kBuckets[i]) ++bucketCounts_[i];
}

void TServiceMetrics::Error(const std::string& kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++errors_[kind];
}

std::string TServiceMetrics::Text(const TServiceHealth& health, const std::optional<TJournalHealth>& journal) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << "# HELP selvo_sales_total Sales computed.\n# TYPE selvo_sales_total counter\n"
    << "selvo_sales_total " << sales_ << "\n";
  s << "# HELP selvo_errors_total Requests answered with an error, by kind.\n# TYPE selvo_errors_total counter\n";
  for (const auto& [kind, count] : errors_) s << "selvo_errors_total{kind=\"" << kind << "\"} " << count << "\n";
  s << "# HELP selvo_reloads_total Loads of new settings.\n# TYPE selvo_reloads_total counter\n"
    << "selvo_reloads_total{result=\"ok\"} " << health.reloads << "\n"
    << "selvo_reloads_total{result=\"failed\"} " << health.failedReloads << "\n";
  s << "# HELP selvo_settings_version The version of the settings held.\n# TYPE selvo_settings_version gauge\n"
    << "selvo_settings_version " << health.version << "\n";
  s << "# HELP selvo_database_up Whether the shop database can be reached.\n# TYPE selvo_database_up gauge\n"
    << "selvo_database_up " << (health.reachable ? 1 : 0) << "\n";
  s << "# HELP selvo_settings_loading Whether a load of new settings waits for the database.\n"
    << "# TYPE selvo_settings_loading gauge\n"
    << "selvo_settings_loading " << (health.loadingSince ? 1 : 0) << "\n";
  if (journal) {
    s << "# HELP selvo_journal_up Whether the sales journal is written.\n# TYPE selvo_journal_up gauge\n"
      << "selvo_journal_up " << (journal->writing ? 1 : 0) << "\n"
      << "# HELP selvo_journal_lines_total Lines of the sales journal, by result.\n"
      << "# TYPE selvo_journal_lines_total counter\n"
      << "selvo_journal_lines_total{result=\"written\"} " << journal->written << "\n"
      << "selvo_journal_lines_total{result=\"failed\"} " << journal->failed << "\n";
  }
  s << "# HELP selvo_calc_seconds Time to compute a sale.\n# TYPE selvo_calc_seconds histogram\n";
  for (std::size_t i = 0; i < kBuckets.size(); ++i)
    s << "selvo_calc_seconds_bucket{le=\"" << kBuckets[i] << "\"} " << bucketCounts_[i] << "\n";
  s << "selvo_calc_seconds_bucket{le=\"+Inf\"} " << sales_ << "\n"
    << "selvo_calc_seconds_sum " << secondsSum_ << "\n"
    << "selvo_calc_seconds_count " << sales_ << "\n";
  return s.str();
}

}  // namespace selvo::host
