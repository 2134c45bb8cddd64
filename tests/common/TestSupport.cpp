#include "tests/common/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "module/ModuleLifetime.h"
#include "state/SelvoModuleU.h"

namespace selvo::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "selvo-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ModuleScope::ModuleScope() {
  setenv("WINDIR", windir_.path().c_str(), 1);
  ModuleLoad();
}

ModuleScope::~ModuleScope() {
  ModuleUnload();
  unsetenv("WINDIR");
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace selvo::test
