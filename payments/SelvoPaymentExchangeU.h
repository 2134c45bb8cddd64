// The payment type exchange file: a Windows-1251 text file with the header
// line "ТИП ДАННЫХ: ВИДЫ ОПЛАТЫ" and one payment type per line, five fields
// separated by TAB (name, type, receipt kind, discount, enabled), every line
// ended by CR LF. TSelvoPaymentList::ExportToFile and ImportFromFile (declared in
// the host-facing header) write and read it; the helpers below are the file
// format itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/FormatSettings.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

inline constexpr const char* kPaymentExchangeHeader = "ТИП ДАННЫХ: ВИДЫ ОПЛАТЫ";

// A failure of the exchange itself (empty file, wrong header, cancelled by
// the operator, a file that cannot be read or written).
class EPaymentExchangeError : public Exception {
  using Exception::Exception;
};

// The TAB-separated fields of a line. An empty text after the last TAB is no
// field: "a\tb\t" has two fields, "a\tb\t\t" three, "" none.
std::vector<std::string> SplitExchangeFields(std::string_view line);

// A number as the file carries it: two decimals, a full stop, no digit
// grouping ("7.50"), whatever the module's format settings say.
std::string FormatExchangeNumber(double value);

// A number text of the file put into the module's format settings, so that a
// dataset converting texts with those settings reads the value the file
// holds: the full stop becomes fs.DecimalSeparator. A text that is no number
// with a full stop comes back unchanged for the dataset to refuse, except a
// number in fs's own decimal form (such as "7,50" under a comma), which the
// file never holds: that raises EConvertError naming the text and fieldName,
// as the dataset's own conversion would.
std::string ExchangeNumberToModuleText(const std::string& text, const TFormatSettings& fs,
                                       const std::string& fieldName);

}  // namespace selvo
