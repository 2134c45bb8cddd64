// The machine-wide settings folder that stands for the Windows directory:
// $WINDIR when set and not empty, else /etc/selvo. Always ends in '/'.
#pragma once

#include <string>

namespace selvo {

inline constexpr const char* kDefaultWindowsDirectory = "/etc/selvo/";
std::string WindowsDirectory();

}  // namespace selvo
