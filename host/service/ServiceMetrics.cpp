#include "host/service/ServiceMetrics.h"

#include <sstream>

namespace selvo::host {

void TServiceMetrics::THistogram::Observe(double seconds) {
  ++count_;
  sum_ += seconds;
  for (std::size_t i = 0; i < kBuckets.size(); ++i)
    if (seconds <= kBuckets[i]) ++counts_[i];
}

void TServiceMetrics::THistogram::Write(std::ostream& out, const char* name, const char* help) const {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " histogram\n";
  for (std::size_t i = 0; i < kBuckets.size(); ++i)
    out << name << "_bucket{le=\"" << kBuckets[i] << "\"} " << counts_[i] << "\n";
  out << name << "_bucket{le=\"+Inf\"} " << count_ << "\n"
      << name << "_sum " << sum_ << "\n"
      << name << "_count " << count_ << "\n";
}

void TServiceMetrics::SaleComputed(double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++sales_;
  calc_.Observe(seconds);
}

void TServiceMetrics::SaleWaited(double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  wait_.Observe(seconds);
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
  s << "# HELP selvo_module_calls_waiting Sales and loads waiting for the module now.\n"
    << "# TYPE selvo_module_calls_waiting gauge\n"
    << "selvo_module_calls_waiting " << health.callsWaiting << "\n";
  wait_.Write(s, "selvo_calc_wait_seconds", "Time a sale waited for the module, held by other sales or a load.");
  calc_.Write(s, "selvo_calc_seconds", "Time the calculation of a sale took, waiting and parsing not included.");
  return s.str();
}

}  // namespace selvo::host
