#include "host/journal/JournalFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/session/SaleJson.h"

namespace selvo::host {

namespace fs = std::filesystem;

std::vector<std::string> ListJournalFiles(const std::vector<std::string>& named, std::size_t maxFiles,
                                          const std::string& advice) {
  std::vector<std::string> files;
  auto add = [&](std::string file) {
    if (files.size() >= maxFiles) throw EJournalFiles("журналов больше " + std::to_string(maxFiles) + ": " + advice);
    files.push_back(std::move(file));
  };
  for (const std::string& name : named) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (fs::is_directory(status)) {
      std::vector<std::string> inside;
      // Listing stops one past the bound: a folder of millions of files is
      // refused without being read whole.
      for (fs::directory_iterator it(name, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) inside.push_back(it->path().string());
        if (inside.size() > maxFiles) break;
      }
      if (error) throw EJournalFiles("не удалось прочитать папку журналов " + InputExcerpt(name, 200));
      std::sort(inside.begin(), inside.end());
      for (std::string& file : inside) add(std::move(file));
    } else if (fs::exists(status)) {
      // Named on its own, anything but a folder is read as it is: a file, or
      // a pipe a journal is unpacked into.
      add(name);
    } else {
      throw EJournalFiles("журнал продаж " + InputExcerpt(name, 200) + " не найден");
    }
  }
  return files;
}

}  // namespace selvo::host
