#include "host/session/HostPaths.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace selvo::host {

std::string DatabaseOptionHelp() {
  return "база данных магазина: файл SQLite (по умолчанию " + DefaultDatabasePath() +
         ") или адрес сервера PostgreSQL (postgresql://..., \"host=... dbname=...\" или service=ИМЯ; "
         "пароль libpq берёт из PGPASSFILE или ~/.pgpass)";
}

std::string DefaultDatabasePath() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.local/share";
  }
  return base + "/selvo/shop.db";
}

std::string ExecutableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace selvo::host
