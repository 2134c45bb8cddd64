// INI file access for the module: the INI file classes of the runtime
// (TCustomIniFile, TIniFile over the INI service of platform/IniProfile.h)
// and TSafeIniFile, the module's only way to reach an INI file.
//
// TSafeIniFile adds to TIniFile:
// - a lock shared by every process that opens a file of the same lock name
//   (platform/ProcessLock.h), held inside each operation;
// - values of any length and with line breaks: a line break is stored as the
//   marker "<@\n@>", a long value is spread over the keys K, K__$Count,
//   K__$Hash, K__$Line2 ... guarded by a count and a hash, and chunks that
//   begin or end with a blank or a quotation mark are stored in double quotes;
// - a refused write retried every 20 ms for up to 1000 ms;
// - the operation's name in front of the message of an error that leaves it
//   ("TSafeIniFile.WriteString -> ..."), keeping the error's class;
// - dates, times and numbers in the fixed InvariantFormat.
//
// Texts are UTF-8; the file is Windows-1251 (characters it lacks are stored
// as '?'). Lengths are counted in characters of the file's code page.
// An object serves one thread at a time; create it for one task.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FormatSettings.h"
#include "platform/IniProfile.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

class TProcessLock;

// A failed INI operation: a missing section or key name, a write the system
// refused.
class EIniFileException : public Exception {
  using Exception::Exception;
};

// Fixed date, time and number formats, whatever the user's locale:
// "dd.mm.yyyy", "hh:nn:ss.zzzz" (13:45:07.123), "." as decimal separator.
const TFormatSettings& InvariantFormat();

// ---------------------------------------------------------------------------
// The runtime's INI file classes.

class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  virtual std::string ReadString(const std::string& section, const std::string& ident, const std::string& def) = 0;
  virtual void WriteString(const std::string& section, const std::string& ident, const std::string& value) = 0;
  // The text of ReadString as a 32-bit integer (decimal, "$1F" or "0x1F"
  // hexadecimal); def when it does not convert.
  virtual std::int32_t ReadInteger(const std::string& section, const std::string& ident, std::int32_t def);
  virtual void WriteInteger(const std::string& section, const std::string& ident, std::int32_t value);
  // ReadInteger with default 1 or 0; true when not 0. WriteBool stores "1" or "0".
  virtual bool ReadBool(const std::string& section, const std::string& ident, bool def);
  virtual void WriteBool(const std::string& section, const std::string& ident, bool value);
  // The value as hexadecimal digit pairs, decoded up to the first pair that
  // is not one, written to `value`; answers the number of bytes written.
  virtual int ReadBinaryStream(const std::string& section, const std::string& name, std::ostream& value);
  // Date, time and number conversions in the module's locale formats; def
  // when the text is empty or does not convert.
  virtual double ReadDate(const std::string& section, const std::string& name, double def);
  virtual double ReadDateTime(const std::string& section, const std::string& name, double def);
  virtual double ReadFloat(const std::string& section, const std::string& name, double def);
  virtual double ReadTime(const std::string& section, const std::string& name, double def);
  // The rest of the stream as upper-case hexadecimal digit pairs.
  virtual void WriteBinaryStream(const std::string& section, const std::string& name, std::istream& value);
  virtual void WriteDate(const std::string& section, const std::string& name, double value);
  virtual void WriteDateTime(const std::string& section, const std::string& name, double value);
  virtual void WriteFloat(const std::string& section, const std::string& name, double value);
  virtual void WriteTime(const std::string& section, const std::string& name, double value);
  // Listings replace the content of `strings`.
  virtual void ReadSection(const std::string& section, std::vector<std::string>& strings) = 0;
  virtual void ReadSections(std::vector<std::string>& strings) = 0;
  // The sections named `section` or beginning with `section` + "\" (letter
  // case ignored), in file order.
  virtual void ReadSections(const std::string& section, std::vector<std::string>& strings);
  virtual void ReadSectionValues(const std::string& section, std::vector<std::string>& strings) = 0;
  virtual void EraseSection(const std::string& section) = 0;
  virtual void DeleteKey(const std::string& section, const std::string& ident) = 0;
  virtual void UpdateFile() = 0;
  // Whether ReadSection lists the key (letter case ignored).
  virtual bool ValueExists(const std::string& section, const std::string& ident);

 private:
  std::string fileName_;
};

// Single reads and writes of the INI service, without a lock. Failed
// changes of the file raise EIniFileException "Unable to write to <file>";
// LastError() then tells the system's error code (an errno value).
class TIniFile : public TCustomIniFile {
 public:
  explicit TIniFile(std::string fileName) : TCustomIniFile(std::move(fileName)) {}

  // Reads into a buffer of 2048 characters (longer values are cut).
  std::string ReadString(const std::string& section, const std::string& ident, const std::string& def) override;
  void WriteString(const std::string& section, const std::string& ident, const std::string& value) override;
  void ReadSection(const std::string& section, std::vector<std::string>& strings) override;
  void ReadSections(std::vector<std::string>& strings) override;
  using TCustomIniFile::ReadSections;
  // The section's "key=value" lines as stored.
  void ReadSectionValues(const std::string& section, std::vector<std::string>& strings) override;
  void EraseSection(const std::string& section) override;
  void DeleteKey(const std::string& section, const std::string& ident) override;
  // Forces the file's content onto the disk.
  void UpdateFile() override;

  int LastError() const { return lastError_; }

 protected:
  // The whole file as read now; a file that exists but cannot be read raises
  // EIniFileException "Unable to read <file>: <system text>".
  TIniText Load();
  // One change of the file in one replace (see TIniProfile::Modify); a
  // failure raises "Unable to write to <file>" with LastError() set.
  void Modify(const std::function<bool(TIniText&)>& change);
  // A key's 8-bit value from a loaded text, cut to bufferSize - 1 bytes.
  static std::optional<std::string> ReadRaw(const TIniText& text, std::string_view section, std::string_view ident,
                                            std::size_t bufferSize);
  void Check(int rc);

 private:
  int lastError_ = 0;
};

// ---------------------------------------------------------------------------

class TSafeIniFile : public TIniFile {
 public:
  static constexpr const char* kLockNamePrefix = "ini file lock mutex";
  static constexpr int kRetryTimeoutMs = 1000;
  // The longest wait for the file's lock; past it the operation fails with
  // EIniFileException naming the file and the other process holding it.
  static constexpr int kLockTimeoutMs = 10000;
  static constexpr int kRetryPauseMs = 20;
  static constexpr std::size_t kReadBufferSize = 65535;
  static constexpr std::size_t kMaxChunkLength = 65532;
  static constexpr std::string_view kNewLineMarker = "<@\\n@>";
  static constexpr std::int32_t kNoCount = -65535;

  // Opens the file's lock (any user's process may open it); without one the
  // object still works, unlocked between processes. Does not touch the file.
  explicit TSafeIniFile(std::string fileName);
  // Waits for the lock once more, so that no operation of another object of
  // this process or thread is cut short, and closes it.
  ~TSafeIniFile() override;

  std::string ReadString(const std::string& section, const std::string& ident, const std::string& def) override;
  void WriteString(const std::string& section, const std::string& ident, const std::string& value) override;
  double ReadDate(const std::string& section, const std::string& name, double def) override;
  double ReadDateTime(const std::string& section, const std::string& name, double def) override;
  double ReadFloat(const std::string& section, const std::string& name, double def) override;
  double ReadTime(const std::string& section, const std::string& name, double def) override;
  void WriteDate(const std::string& section, const std::string& name, double value) override;
  void WriteDateTime(const std::string& section, const std::string& name, double value) override;
  void WriteFloat(const std::string& section, const std::string& name, double value) override;
  void WriteTime(const std::string& section, const std::string& name, double value) override;
  // Lists what is stored: continuation keys appear as keys of their own.
  void ReadSection(const std::string& section, std::vector<std::string>& strings) override;
  void ReadSections(std::vector<std::string>& strings) override;
  using TCustomIniFile::ReadSections;
  void ReadSectionValues(const std::string& section, std::vector<std::string>& strings) override;
  void EraseSection(const std::string& section) override;
  // Removes the key with its continuation keys.
  void DeleteKey(const std::string& section, const std::string& ident) override;
  void UpdateFile() override;

  // "ini file lock mutex" + the file name in lower case, runs of '\' (and of
  // '/') made one, then each of " * / : < > ? \ | replaced by '_'.
  static std::string LockName(const std::string& fileName);
  // The hash that ties continuation keys to their first chunk, over the
  // 8-bit text as stored.
  static std::int32_t ChunkHash(std::string_view text);

  struct TSplitValue {
    std::vector<std::string> chunks;  // as stored, quoted where needed
    std::int32_t hash = 0;            // ChunkHash of chunk 1 before quoting (2 chunks or more)
  };
  // Cuts an 8-bit value into stored chunks of at most 65532 characters
  // before quoting: LF becomes the marker (never split), CR is dropped.
  static TSplitValue SplitValue(std::string_view value);

  // Shortens the wait for the lock (tests); 0 restores kLockTimeoutMs.
  static void SetLockTimeoutForTesting(int milliseconds);

  bool HasLock() const;
  // The lock file; empty without a lock.
  std::string LockPath() const;

  // Holds a settings file's lock for its own life. The objects of one task,
  // made, used and freed inside it, then take the lock again for each
  // operation and for their end without a system call (the lock is
  // re-entrant for the holding thread), and no other process comes in
  // between. Waits as an operation does; past the wait EIniFileException.
  class THeldLock {
   public:
    explicit THeldLock(const std::string& fileName);
    ~THeldLock();
    THeldLock(const THeldLock&) = delete;
    THeldLock& operator=(const THeldLock&) = delete;

   private:
    std::unique_ptr<TProcessLock> lock_;
  };

 private:
  class TLockGuard;
  void Lock();
  void Unlock();
  void CheckSection(const std::string& section) const;
  void CheckIdent(const std::string& ident) const;
  // One read of one stored line with the 65535-character buffer, the marker
  // decoded; nullopt for a missing key. `hash` receives ChunkHash of the
  // text as read, before decoding.
  static std::optional<std::string> RawRead(const TIniText& ini, const std::string& section, const std::string& key,
                                            std::int32_t* hash = nullptr);
  // Modify, a refused write retried every 20 ms for up to 1000 ms.
  void ModifyRetrying(const std::function<bool(TIniText&)>& change);

  std::unique_ptr<TProcessLock> lock_;
};

}  // namespace selvo
