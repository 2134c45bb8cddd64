// The INI (profile) service: single reads, writes and deletes of keys in an
// 8-bit text file of "[section]" headers and "key=value" lines, behaving as
// the host platform's profile functions do. Texts here are bytes as stored
// (Windows-1251); converting to and from UTF-8 is the caller's business.
//
// Behaviour, in short:
// - Lines end in CR LF, LF or CR. "[name]" starts a section (blanks inside the
//   brackets dropped, text after the last "]" ignored); a line whose first
//   non-blank character is ";" is a comment; a line without "=" is no key.
//   Lines before the first header belong to no section.
// - Section and key names compare without regard to letter case (Latin and
//   Cyrillic letters of Windows-1251) after dropping blanks around them.
// - Only the first section of a name is searched, and in it the first line of
//   a key wins. A read drops blanks (space, tab) around the value, then one
//   pair of equal quotation marks (" or ') enclosing the whole value.
// - A write replaces the key's line in place or adds "key=value" after the
//   last non-blank line of the section, or "[section]" and the key at the end
//   of the file. Lines written end in CR LF; every other line stays byte for
//   byte. Leading blanks of a value are dropped; a name or value is cut at its
//   first NUL, CR or LF, so a write can never add lines the caller did not ask
//   for.
// - A key name that is empty without its blanks cannot be written (EINVAL).
// - Deleting a key removes its lines in that section; deleting a section
//   removes every section of that name with its lines. Deleting what is not
//   there succeeds and creates no file.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace selvo {

// ---------------------------------------------------------------------------
// The text of one INI file, parsed on demand. Used by the file service below
// and usable on its own (tests, fuzzing). Any byte sequence is accepted.

class TIniText {
 public:
  TIniText() = default;
  explicit TIniText(std::string text) : text_(std::move(text)) {}

  const std::string& Text() const { return text_; }

  // The value of the key as a read gives it (blanks and one pair of quotes
  // dropped); nullopt when the section or the key is not there.
  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  // Read of several keys of one section in one pass over the text: entry i
  // answers keys[i].
  std::vector<std::optional<std::string>> ReadEach(std::string_view section,
                                                   std::span<const std::string_view> keys) const;

  // Each answers whether the text changed. A key name that is empty once
  // blanks are dropped is never written.
  bool Write(std::string_view section, std::string_view key, std::string_view value);
  bool DeleteKey(std::string_view section, std::string_view key);
  bool DeleteSection(std::string_view section);

  // Names of all section headers, in file order (a repeated header repeats).
  std::vector<std::string> SectionNames() const;
  // Key names of the first section of that name, in file order.
  std::vector<std::string> KeyNames(std::string_view section) const;
  // "key=value" of every key line of that section, blanks around both dropped,
  // the value as stored (quotes kept).
  std::vector<std::string> SectionLines(std::string_view section) const;

 private:
  std::string text_;
};

// ---------------------------------------------------------------------------
// The service over files. Operations that change a file answer 0 or an errno
// value; they rewrite the file through a temporary file in the same folder
// that is renamed over it (platform/FileIO.h), so a process that dies
// half-way leaves the old or the new content, never a mix; temporary files
// of writers that died are removed by the next change. They do not serialise
// between processes: that is the caller's lock. A symbolic link is followed
// and its target replaced. A file that exists but cannot be read (rights, a
// folder or FIFO in its place, an I/O error) is never replaced.

class TIniProfile {
 public:
  virtual ~TIniProfile() = default;

  // The key's value cut to bufferSize - 1 bytes (bufferSize >= 1); nullopt
  // when the file, the section or the key is missing or the file cannot be read.
  virtual std::optional<std::string> ReadKey(const std::string& file, std::string_view section, std::string_view key,
                                             std::size_t bufferSize) = 0;
  virtual int WriteKey(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view value) = 0;
  virtual int DeleteKey(const std::string& file, std::string_view section, std::string_view key) = 0;
  virtual int DeleteSection(const std::string& file, std::string_view section) = 0;
  // Listings of an unreadable or missing file are empty.
  virtual std::vector<std::string> SectionNames(const std::string& file) = 0;
  virtual std::vector<std::string> KeyNames(const std::string& file, std::string_view section) = 0;
  virtual std::vector<std::string> SectionLines(const std::string& file, std::string_view section) = 0;
  // The whole file, parsed: 0, or the errno of a failed read (see
  // FileErrorText). A missing file reads as an empty text and answers 0.
  virtual int ReadText(const std::string& file, TIniText& out) = 0;
  // Reads the file as ReadText does, lets `change` edit the text and, when it
  // answers true, replaces the file with the result in one step: whatever
  // the change does to how many keys, the file holds the old text or the
  // new one. A failed read is answered and nothing is written.
  virtual int Modify(const std::string& file, const std::function<bool(TIniText&)>& change) = 0;
  // Forces what was written to the file onto the disk (file and folder);
  // a missing file is not an error.
  virtual int Flush(const std::string& file) = 0;
};

// The service in use: the file service unless a test has put another one in
// place. SetIniProfile does not take ownership; nullptr restores the file
// service. Not synchronised: replace it only while no INI access runs.
TIniProfile& IniProfile();
void SetIniProfile(TIniProfile* service);

// The file service itself, for services that wrap it.
TIniProfile& FileIniProfile();

}  // namespace selvo
