// Guards for the module's replaceable services: each puts a test's clock,
// format settings or INI service in place and restores what was there when
// it goes, also when the test fails half-way.
#pragma once

#include <functional>
#include <utility>

#include "platform/Clock.h"
#include "platform/FormatSettings.h"
#include "platform/IniProfile.h"

namespace selvo::test {

// The module's clock; the system clock again afterwards.
class ScopedClock {
 public:
  ScopedClock() = default;
  explicit ScopedClock(std::function<double()> clock) { Set(std::move(clock)); }
  ~ScopedClock() { SetClock({}); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
  void Set(std::function<double()> clock) { SetClock(std::move(clock)); }
  // A clock that stands still at this day-based moment.
  void SetFixed(double moment) {
    SetClock([moment] { return moment; });
  }
};

// The module's format settings; the ones in force before afterwards.
class ScopedFormatSettings {
 public:
  ScopedFormatSettings() : saved_(ModuleFormatSettings()) {}
  explicit ScopedFormatSettings(const TFormatSettings& settings) : ScopedFormatSettings() { Set(settings); }
  ~ScopedFormatSettings() { SetModuleFormatSettings(saved_); }
  ScopedFormatSettings(const ScopedFormatSettings&) = delete;
  ScopedFormatSettings& operator=(const ScopedFormatSettings&) = delete;
  void Set(const TFormatSettings& settings) { SetModuleFormatSettings(settings); }

 private:
  TFormatSettings saved_;
};

// The INI service; the file service again afterwards. Does not own it.
class ScopedIniProfile {
 public:
  explicit ScopedIniProfile(TIniProfile* service) { SetIniProfile(service); }
  ~ScopedIniProfile() { SetIniProfile(nullptr); }
  ScopedIniProfile(const ScopedIniProfile&) = delete;
  ScopedIniProfile& operator=(const ScopedIniProfile&) = delete;
};

}  // namespace selvo::test
