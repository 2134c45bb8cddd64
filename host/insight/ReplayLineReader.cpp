#include "host/insight/ReplayLineReader.h"

#include <string_view>

#include "host/insight/Replay.h"
#include "host/journal/SaleId.h"
#include "host/session/FastSaleReader.h"

namespace selvo::host {

static_assert(kLineReadPadding >= simdjson::SIMDJSON_PADDING);

using simdjson::dom::element;
using simdjson::dom::element_type;

struct TLineSaleReader::TParser {
  TFastSaleReader reader;

  // The line's sale into `out` when every part of it reads as the sale
  // format wants it; false to leave the line to the general reader.
  bool Read(std::string_view text, TLineSale& out) {
    element entry;
    if (!reader.Parse(text, true, entry)) return false;
    static constexpr std::string_view kEntry[] = {"sale", "moment", kSaleIdField};
    element e[3];
    bool present[3];
    if (!FastMembers(entry, kEntry, e, present) || !present[0] || !present[1]) return false;
    // The sale's own moment is not read: the entry's is the one it was computed at.
    if (!out.sale) out.sale.emplace();
    TSale& sale = *out.sale;
    double moment = 0;
    if (!ReadFastSaleBody(e[0], sale) || !reader.Moment(e[1], moment)) return false;
    sale.moment = moment;
    out.saleId.clear();
    if (present[2] && e[2].type() == element_type::STRING) {
      const std::string_view id = e[2].get_string().value_unsafe();
      if (IsSaleId(id)) out.saleId.assign(id);
    }
    out.reason.clear();
    out.torn = false;
    return true;
  }
};

TLineSale ReadLineSaleGenerally(const TJournalLine& line) {
  TLineSale out;
  nlohmann::json entry;
  out.reason = ExamineJournalLine(line, entry, out.torn);
  if (!out.reason.empty()) return out;
  out.sale = EntrySaleAtItsMoment(entry, out.reason);
  if (out.sale) out.saleId = EntrySaleId(entry);
  return out;
}

TLineSaleReader::TLineSaleReader() : parser_(std::make_unique<TParser>()) {}
TLineSaleReader::~TLineSaleReader() = default;

void TLineSaleReader::Read(const TJournalLine& line, TLineSale& out) {
  if (!line.tooLong && parser_->Read(line.text, out)) return;
  ++generalReads_;
  out = ReadLineSaleGenerally(line);
}

}  // namespace selvo::host
