// What the host reads from the text of a shop database address before it
// opens anything: whether it names a PostgreSQL server, read as the server's
// client library reads addresses; the form that library is handed; and the
// passwords the text holds, masked in every message that could quote them.
#pragma once

#include <cstddef>
#include <string>

namespace selvo::host {

// The longest address taken (a file path is at most 4096 bytes either). It
// bounds the masking of a message, which costs the address's length times
// the message's.
inline constexpr std::size_t kMaxAddressLength = 4096;

// True for a PostgreSQL address: a postgresql:// or postgres:// URI, the
// scheme in any letter case, or a text that starts with one of libpq's
// connection keywords (its own list, letter case ignored) and '='. A
// misspelt address such as "Host=..." thus reaches libpq, which names the
// fault, instead of being taken for a file name. Everything else is a file.
bool IsServerAddress(const std::string& database);

// The address as libpq is handed it: a URI with its scheme in lower case
// (libpq takes no other), anything else as it stands.
std::string LibpqAddress(const std::string& address);

// `message` with every password that `address` holds replaced by "***":
// password and sslpassword words, quoted or not, a URI's user information
// and query parameters, both as written and as libpq decodes them. Where
// libpq cannot read the address it quotes pieces of it, so the pieces of a
// password written with spaces are masked too. A message about an address
// longer than kMaxAddressLength is not shown at all.
std::string WithoutPasswords(std::string message, const std::string& address);

}  // namespace selvo::host
