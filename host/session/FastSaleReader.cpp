#include "host/session/FastSaleReader.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

namespace selvo::host {
namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// The fast parser refuses texts nested deeper than this, far within
// kMaxJsonDepth (whichever way it counts the levels): a deeper text goes to
// the general reader, which measures its depth exactly. A sale nests 3 deep,
// a journal line 4.
constexpr std::size_t kFastDepth = kMaxJsonDepth / 2;

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
    if (!FastMembers(item, kNames, f, present)) return false;
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

bool ReadFastSaleBody(element value, TSale& sale) {
  static constexpr std::string_view kSale[] = {"payment", "lines"};
  element s[2];
  bool has[2];
  if (!FastMembers(value, kSale, s, has) || !has[0] || !has[1]) return false;
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
  return ReadLines(s[1], sale.lines);
}

TFastSaleReader::TFastSaleReader() {
  // Without its buffers every text goes to the general reader.
  auto parser = std::make_unique<simdjson::dom::parser>();
  if (parser->allocate(kFastSaleBytes, kFastDepth) == simdjson::SUCCESS) parser_ = std::move(parser);
}
TFastSaleReader::~TFastSaleReader() = default;

bool TFastSaleReader::Parse(std::string_view text, bool padded, element& document) {
  if (!parser_ || text.size() > kFastSaleBytes || text.find("\\u") != std::string_view::npos) return false;
  return parser_->parse(text.data(), text.size(), !padded).get(document) == simdjson::SUCCESS;
}

bool TFastSaleReader::Moment(element value, double& moment) {
  if (value.type() != element_type::STRING) return false;
  try {
    momentText_.assign(value.get_string().value_unsafe());
    moment = ParseMoment(momentText_);
  } catch (const ESaleFormat&) {
    return false;
  }
  return true;
}

bool TFastSaleReader::Read(std::string_view text, TSale& sale) {
  // The text is copied into the parser's padded buffer: a sale is short.
  element doc;
  if (!Parse(text, false, doc)) return false;
  static constexpr std::string_view kMoment[] = {"moment"};
  element m[1];
  bool has[1];
  if (!FastMembers(doc, kMoment, m, has) || !ReadFastSaleBody(doc, sale)) return false;
  sale.moment.reset();
  if (!has[0] || m[0].type() == element_type::NULL_VALUE) return true;
  double moment = 0;
  if (!Moment(m[0], moment)) return false;
  sale.moment = moment;
  return true;
}

TSale ParseSaleFast(const std::string& text) {
  thread_local TFastSaleReader reader;
  TSale sale;
  if (reader.Read(text, sale)) return sale;
  return ParseSale(text);
}

}  // namespace selvo::host
