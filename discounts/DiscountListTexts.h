// The stored text forms of a discount card's two lists, the purchase-sum
// thresholds ("1000=3%;5000=5%;") and the time discounts
// ("08:0:0-12:0:0=5%;"): their reading and writing, and the unit and number
// texts they are made of. The card's loading and saving, the editor's grid
// and the host's check of the settings all go through here, so that a list
// reads and writes one way everywhere.
#pragma once

#include <string>
#include <string_view>

#include "discounts/SelvoDiscountItemsU.h"

namespace selvo {

// Texts of the two units, as the stored lists and the editor's cells write
// them (UTF-8).
inline constexpr const char* kPercentText = "%";
inline constexpr const char* kRoubleText = "р";

// The text of a one-byte unit (kUnitPercent, kUnitRouble).
std::string UnitText(char unit);

// A number as the lists write it: the shortest general text under the
// module's format settings.
std::string ListNumberText(double value);

// The stored texts of the sequences under the module's format settings:
// entries ended by ";", times in the long time format with every "00"
// shortened to "0", amounts as ListNumberText. Only as many entries as the
// shortest sequence holds are written. A text over kMaxListTextLength
// characters is replaced by kListTooLongText.
std::string TimeListText(const TDynTimeArray& begins, const TDynTimeArray& ends, const TDynDoubleArray& amounts,
                         const TDynCharArray& units);
std::string ThresholdListText(const TDynDoubleArray& sums, const TDynDoubleArray& amounts, const TDynCharArray& units);

// Replace the sequences with the entries of a stored text. ";", CR and LF
// end an entry; malformed entries are skipped without a message; numbers
// written under either decimal separator read the same. Any text is safe.
void ReadTimeList(std::string_view text, TDynTimeArray& begins, TDynTimeArray& ends, TDynDoubleArray& amounts,
                  TDynCharArray& units);
void ReadThresholdList(std::string_view text, TDynDoubleArray& sums, TDynDoubleArray& amounts, TDynCharArray& units);

}  // namespace selvo
