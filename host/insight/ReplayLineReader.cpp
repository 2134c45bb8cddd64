#include "host/insight/ReplayLineReader.h"

#include <simdjson.h>

#include <cmath>
#include <cstdint>
#include <string_view>

#include "host/insight/Replay.h"
#include "host/journal/SaleId.h"

namespace selvo::host {
namespace {

static_assert(kLineReadPadding >= simdjson::SIMDJSON_PADDING);

using simdjson::dom::element;
using simdjson::dom::element_type;

// The members of one object a reading looks for, each found once; false
// when one of them is there twice (the general reader keeps the last of
// repeated keys, the fast one would see the first).
template <std::size_t N>
bool Members(element value, const std::string_view (&names)[N], element (&found)[N], bool (&present)[N]) {
  simdjson::dom::object object;
  if (value.get_object().get(object) != simdjson::SUCCESS) return false;
  for (bool& p : present) p = false;
  for (const simdjson::dom::key_value_pair field : object) {
    for (std::size_t i = 0; i < N; ++i) {
      if (field.key != names[i]) continue;
      if (present[i]) return false;
      present[i] = true;
      found[i] = field.value;
    }
  }
  return true;
}

// An identifier the sale format takes (a whole number in 32 bits).
bool Identifier(element value, std::int32_t& out) {
  if (value.type() != element_type::INT64) return false;
  const std::int64_t v = value.get_int64().value_unsafe();
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

// An amount within the sale format's bounds, as the general reader takes it
// (a whole number converted, -0 left to it).
bool Amount(element value, double most, double& out) {
  double v = 0;
  switch (value.type()) {
    case element_type::INT64: v = static_cast<double>(value.get_int64().value_unsafe()); break;
    case element_type::DOUBLE: v = value.get_double().value_unsafe(); break;
    default: return false;
  }
  if (!(std::isfinite(v) && v >= 0 && v <= most) || std::signbit(v)) return false;
  out = v;
  return true;
}

bool ReadLines(element value, std::vector<TSaleLine>& lines) {
  simdjson::dom::array array;
  if (value.get_array().get(array) != simdjson::SUCCESS) return false;
  lines.clear();
  static constexpr std::string_view kNames[] = {"goods", "category", "zprice", "price", "quantity"};
  for (const element item : array) {
    element f[5];
    bool present[5];
    if (!Members(item, kNames, f, present)) return false;
    for (bool p : present) {
      if (!p) return false;
    }
    TSaleLine line;
    if (!Identifier(f[0], line.goods) || !Identifier(f[1], line.category) || !Amount(f[2], kMaxPrice, line.zprice) ||
        !Amount(f[3], kMaxPrice, line.price) || !Amount(f[4], kMaxQuantity, line.quantity))
      return false;
    lines.push_back(line);
  }
  return true;
}

}  // namespace

// The fast parser refuses lines nested deeper than this, far within
// kMaxJsonDepth (whichever way it counts the levels): a deeper line goes to
// the general reader, which measures its depth exactly. A journal line nests
// 4 deep.
constexpr std::size_t kFastDepth = kMaxJsonDepth / 2;

struct TLineSaleReader::TParser {
  simdjson::dom::parser parser;
  bool ready = false;
  std::string moment;  // the moment's text, its buffer kept

  // The line's sale into `out` when every part of it reads as the sale
  // format wants it; false to leave the line to the general reader.
  bool Read(std::string_view text, TLineSale& out) {
    if (!ready || text.size() > kFastLineBytes || text.find("\\u") != std::string_view::npos) return false;
    element entry;
    if (parser.parse(text.data(), text.size(), false).get(entry) != simdjson::SUCCESS) return false;
    static constexpr std::string_view kEntry[] = {"sale", "moment", kSaleIdField};
    element e[3];
    bool present[3];
    if (!Members(entry, kEntry, e, present) || !present[0] || !present[1]) return false;
    // The sale's own moment is not read: the entry's is the one it was computed at.
    static constexpr std::string_view kSale[] = {"payment", "lines"};
    element s[2];
    bool has[2];
    if (!Members(e[0], kSale, s, has) || !has[0] || !has[1]) return false;
    if (!out.sale) out.sale.emplace();
    TSale& sale = *out.sale;
    if (s[0].type() == element_type::STRING) {
      const std::string_view name = s[0].get_string().value_unsafe();
      if (name.find('\0') != std::string_view::npos) return false;
      if (!sale.paymentName) sale.paymentName.emplace();
      sale.paymentName->assign(name);
      sale.paymentID.reset();
    } else {
      std::int32_t id = 0;
      if (!Identifier(s[0], id)) return false;
      sale.paymentID = id;
      sale.paymentName.reset();
    }
    if (!ReadLines(s[1], sale.lines)) return false;
    if (e[1].type() != element_type::STRING) return false;
    try {
      moment.assign(e[1].get_string().value_unsafe());
      sale.moment = ParseMoment(moment);
    } catch (const ESaleFormat&) {
      return false;
    }
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

TLineSaleReader::TLineSaleReader() : parser_(std::make_unique<TParser>()) {
  // Without its buffers every line goes to the general reader.
  parser_->ready = parser_->parser.allocate(kFastLineBytes, kFastDepth) == simdjson::SUCCESS;
}
TLineSaleReader::~TLineSaleReader() = default;

void TLineSaleReader::Read(const TJournalLine& line, TLineSale& out) {
  if (!line.tooLong && parser_->Read(line.text, out)) return;
  ++generalReads_;
  out = ReadLineSaleGenerally(line);
}

}  // namespace selvo::host
