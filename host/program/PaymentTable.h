// The payment types of the module's list as a readable table for a
// terminal: one line per record, columns aligned by characters.
#pragma once

#include <string>

#include "platform/FormatSettings.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// Which optional columns the "Payment" dataset has; a column it lacks is
// shown as "—" instead of the module's substitute value.
struct TPaymentColumns {
  bool rounding = true;  // CheckItogPrec, CheckPrecLimit
  bool gsmVO = true;
  bool customCheck = true;  // CUSTOMCHECK, PRINTCUSTOMCHECK
};

// Reads the list only through its virtual operations Count and GetItem, as
// any host does; names are Windows-1251 in the records and UTF-8 here.
std::string FormatPaymentTable(TPaymentList& list, const TPaymentColumns& columns, const TFormatSettings& fs);

}  // namespace selvo::host
