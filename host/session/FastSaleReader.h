// A sale's JSON read with a fast parser, for the texts the tills send and
// the journals hold at every sale. The general reader (ParseSale) builds a
// whole document and was most of a sale's reading time in the service and
// nearly all of a replay's.
//
// The fast parser validates the whole text as strictly (UTF-8, grammar,
// trailing text) and yields the same numbers. Whatever it is not sure of (a
// number outside the sale's bounds, a repeated key, a \u escape, a text over
// kFastSaleBytes, any parse error) is left to the general reader, so every
// refusal keeps its reason word for word.
#pragma once

#include <simdjson.h>

#include <cstddef>
#include <memory>
#include <string_view>

#include "host/session/SaleJson.h"

namespace selvo::host {

// Longer texts are left to the general reader; the fast parser's own memory
// stays within a few times this.
inline constexpr std::size_t kFastSaleBytes = 64u << 10;

// The members of one object a reading looks for, each found once; false
// when the value is no object or one of them is there twice (the general
// reader keeps the last of repeated keys, the fast one would see the first).
template <std::size_t N>
bool FastMembers(simdjson::dom::element value, const std::string_view (&names)[N], simdjson::dom::element (&found)[N],
                 bool (&present)[N]) {
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

// The payment and the lines of a sale object into `sale` (its buffers
// reused), as ParseSale reads them; its moment is not read. False to leave
// the sale to the general reader.
bool ReadFastSaleBody(simdjson::dom::element value, TSale& sale);

// One per thread: the parser keeps its buffers from one text to the next.
class TFastSaleReader {
 public:
  TFastSaleReader();
  ~TFastSaleReader();
  TFastSaleReader(const TFastSaleReader&) = delete;
  TFastSaleReader& operator=(const TFastSaleReader&) = delete;

  // The sale of a till's text into `sale`, "moment" included; false to
  // leave the text to ParseSale.
  bool Read(std::string_view text, TSale& sale);

  // The steps of a reading, for texts that hold a sale (a journal line):
  // `text` parsed into `document` unless the fast parser leaves it to the
  // general one (too long, a \u escape, on which the readers differ for
  // lone surrogates, or a parse error). `padded`: simdjson's padding
  // follows the text in the caller's buffer, so it is not copied.
  bool Parse(std::string_view text, bool padded, simdjson::dom::element& document);
  // A moment's text read as ParseMoment reads it; false for anything else.
  bool Moment(simdjson::dom::element value, double& moment);

 private:
  std::unique_ptr<simdjson::dom::parser> parser_;  // none when its buffers could not be had
  std::string momentText_;                         // its buffer kept
};

}  // namespace selvo::host
