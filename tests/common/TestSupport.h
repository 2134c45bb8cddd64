// Helpers shared by the tests: temporary folders and a fresh module state.
#pragma once

#include <string>

namespace selvo::test {

// A new empty folder under the system's temporary folder, removed with its
// content when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Loads the module state for one test and unloads it afterwards. WINDIR
// points at a temporary folder meanwhile, so Selvo.ini lands there.
class ModuleScope {
 public:
  ModuleScope();
  ~ModuleScope();
  const TempDir& windowsDir() const { return windir_; }

 private:
  TempDir windir_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace selvo::test
