// Conversions between the values a shop dataset stores (null, integer, real,
// text) and what its fields are asked for or assigned. Kept apart from the
// dataset so that the rules a cashier's entry meets (format settings, a full
// stop as decimal separator, rounding, the messages) live in one place and
// depend on no cursor or connection.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/shopdb/ShopConnection.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// A decimal integer text: optional blanks, an optional sign, digits.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// The row key the database answered: an integer, or the table and its key
// column named (a table made elsewhere may give its key another type).
std::int64_t RowKey(const TVariant& key, const std::string& table);

// A value as messages quote it: texts in quotes, null as NULL.
std::string VariantText(const TVariant& value);

// A value as a field's AsString answers it: null as an empty text.
std::string ValueText(const TVariant& value);

// The integer key of a master-detail link value or an identifier, if it has
// one.
std::optional<std::int64_t> LinkKey(const TVariant& value);

// Whether a stored value of a field of `kind` matches a Locate key under
// the Locate options.
bool KeyMatches(const TVariant& stored, const TVariant& key, TFieldKind kind, unsigned options);

// The field names of a Locate key list ("a; b"), blanks trimmed.
std::vector<std::string> SplitKeyFields(const std::string& keyFields);

// A stored value read as a field of `fieldName`; EConvertError naming the
// value and the field when it does not convert.
std::int32_t ValueAsInteger(const TVariant& value, const std::string& fieldName);
double ValueAsFloat(const TVariant& value, const std::string& fieldName);
double ValueAsDateTime(const TVariant& value, const std::string& fieldName);

// What a field of `kind` stores when assigned a value; EConvertError naming
// the value and the field when it does not convert.
TVariant ValueFromInteger(TFieldKind kind, std::int32_t value);
TVariant ValueFromFloat(TFieldKind kind, double value, const std::string& fieldName);
TVariant ValueFromDateTime(TFieldKind kind, double value, const std::string& fieldName);
// An empty text makes a numeric field null.
TVariant ValueFromString(TFieldKind kind, const std::string& value, const std::string& fieldName);

}  // namespace selvo::host
