// The identifier of one sale a till service computed: on its answer, so the
// till can print it on the receipt, and on its journal line, so the sale is
// found again from the receipt.
//
// It is drawn from the system's random source, not counted: the services of
// a shop run on several computers and start anew without asking each other,
// and a draw needs no shared state. Twelve characters of a base-32 alphabet
// hold 60 random bits. The alphabet leaves out I, L, O and U, so that what a
// cashier reads off a receipt is not mistaken for 1 or 0.
//
// Why two sales practically never share one: a new identifier equals one
// of n earlier ones with a chance of n / 2^60, below one in a billion as
// long as the shop has made fewer than a billion sales; that any two of n
// sales share one at all is at most n^2 / 2^61, one in ten thousand only
// after fifteen million sales (a busy station's ten tills over four years).
// Looking a sale up by its identifier is done within a shop's journals of
// some months, where it is far smaller still.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace selvo::host {

// The key that holds it on the answer and on the journal line.
inline constexpr const char* kSaleIdField = "sale_id";

inline constexpr std::size_t kSaleIdLength = 12;
inline constexpr std::string_view kSaleIdAlphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

// A new identifier. Exception when the system's random source gives none
// (it blocks only until the system's random pool is first filled at boot).
std::string NewSaleId();

// kSaleIdLength characters of kSaleIdAlphabet (upper case only).
bool IsSaleId(std::string_view text);

}  // namespace selvo::host
