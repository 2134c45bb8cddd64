// The settings file of the benchmarks: Selvo.ini as a station has it, 200 keys
// in two sections, the option every sale reads last of all.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

namespace selvo::bench {

inline void WriteSettingsFile(const std::string& path, bool purchaseFloor) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[VAR]\r\n";
  for (int i = 0; i < 100; ++i) out << "Station" << i << "=value " << i << "\r\n";
  out << "[SelvoDiscount]\r\n";
  for (int i = 0; i < 99; ++i) out << "Option" << i << "=" << i % 2 << "\r\n";
  out << "RSumCanNotBeLowThenZSum=" << (purchaseFloor ? 1 : 0) << "\r\n";
}

// The floor of any settings read: open, read and close the file, and find
// the key's line, with no lock, no section or letter-case rules and no
// conversion. Answers the first character of the value ('\0' when missing).
inline char BareIniRead(const std::string& path, std::string_view keyLine) {
  char buffer[16384];
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return '\0';
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return '\0';
  const std::string_view text(buffer, static_cast<std::size_t>(n));
  const std::size_t at = text.find(keyLine);
  return at == std::string_view::npos || at + keyLine.size() >= text.size() ? '\0' : text[at + keyLine.size()];
}

}  // namespace selvo::bench
