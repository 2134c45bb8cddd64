#include "tests/common/PgTestServer.h"

#include <libpq-fe.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace selvo::test {

namespace {

std::string ReadServerFile(const std::string& name) {
  const std::string path = PgTestDir() + "/" + name;
  std::ifstream in(path);
  if (!in)
    throw std::runtime_error("PostgreSQL test server: " + path +
                             " is missing (did the pg_server_start test run and pass?)");
  std::string line;
  std::getline(in, line);
  if (line.empty()) throw std::runtime_error("PostgreSQL test server: " + path + " is empty");
  return line;
}

struct ConnCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};

std::string Trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// A value in single quotes, as a connection string wants it.
std::string Quoted(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

}  // namespace

std::string PgTestDir() {
  const char* dir = std::getenv("SELVO_TEST_PG_DIR");
  if (!dir || !*dir)
    throw std::runtime_error(
        "PostgreSQL test server: SELVO_TEST_PG_DIR is not set (register the test with selvo_add_pg_tests)");
  return dir;
}

std::string PgTestConnInfo() { return ReadServerFile("conninfo"); }
std::string PgTestUri() { return ReadServerFile("uri"); }
std::string PgTestPasswordConnInfo() { return ReadServerFile("pw_conninfo"); }
std::string PgTestPassword() { return ReadServerFile("pw_password"); }

std::vector<std::vector<std::string>> PgExec(const std::string& conninfo, const std::string& sql) {
  std::unique_ptr<PGconn, ConnCloser> conn(PQconnectdb(conninfo.c_str()));
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
    throw std::runtime_error("PostgreSQL connection failed: " + Trimmed(conn ? PQerrorMessage(conn.get()) : nullptr));
  std::unique_ptr<PGresult, ResultClearer> result(PQexec(conn.get(), sql.c_str()));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
    throw std::runtime_error("PostgreSQL statement failed: " + Trimmed(PQerrorMessage(conn.get())) + " [" + sql + "]");
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < PQntuples(result.get()); ++r) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int c = 0; c < PQnfields(result.get()); ++c) row.emplace_back(PQgetvalue(result.get(), r, c));
  }
  return rows;
}

std::string PgWithConnOption(const std::string& conninfo, const std::string& keyword, const std::string& value) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (!options) {
    std::string message = Trimmed(error);
    PQfreemem(error);
    throw std::runtime_error("bad connection string: " + message);
  }
  std::ostringstream out;
  bool found = false;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    std::string val = o->val ? o->val : "";
    if (keyword == o->keyword) {
      val = value;
      found = true;
    }
    if (val.empty()) continue;
    if (out.tellp() > 0) out << ' ';
    out << o->keyword << '=' << Quoted(val);
  }
  PQconninfoFree(options);
  if (!found) throw std::runtime_error("not a connection keyword: " + keyword);
  return out.str();
}

std::string PgCreateScratchDatabase(const std::string& name) {
  bool valid = !name.empty() && name.size() <= 63 && !(name[0] >= '0' && name[0] <= '9');
  for (char c : name) valid = valid && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
  if (!valid || name == "selvo_test" || name == "postgres" || name.rfind("template", 0) == 0)
    throw std::runtime_error("not a name for a scratch database: '" + name + "'");
  const std::string admin = PgTestConnInfo();
  // template0 is never connected to, so databases made side by side don't
  // wait for each other.
  PgExec(admin, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  PgExec(admin, "CREATE DATABASE " + name + " TEMPLATE template0");
  return PgWithConnOption(admin, "dbname", name);
}

TPrivatePgServer::TPrivatePgServer(TReplication replication) : replication_(replication) {
  if (!Run("start")) throw std::runtime_error("the private PostgreSQL server did not start");
  std::ifstream in(dir_.file("server/conninfo"));
  std::getline(in, conninfo_);
  if (conninfo_.empty()) throw std::runtime_error("the private PostgreSQL server wrote no conninfo");
}

TPrivatePgServer::~TPrivatePgServer() { Run("stop"); }

void TPrivatePgServer::Crash() {
  if (!Run("crash")) throw std::runtime_error("the private PostgreSQL server did not stop");
}

void TPrivatePgServer::Restart() {
  if (!Run("restart")) throw std::runtime_error("the private PostgreSQL server did not start again");
}

namespace {

// The postmaster of the server whose socket folder (and run folder) is
// `run`, and every process it started.
std::vector<pid_t> ServerProcesses(const std::string& run) {
  std::ifstream pidFile(run + "/data/postmaster.pid");
  pid_t postmaster = 0;
  if (!(pidFile >> postmaster) || postmaster <= 0) throw std::runtime_error("no postmaster.pid in " + run);
  std::vector<pid_t> processes = {postmaster};
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (name) state ppid ...": the name may hold blanks and brackets.
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    char state = 0;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == postmaster) processes.push_back(std::stoi(entry.path().filename()));
  }
  return processes;
}

std::string RunFolderOf(const std::string& conninfo) {
  const std::size_t at = conninfo.find("host=") + 5;
  return conninfo.substr(at, conninfo.find(' ', at) - at);
}

}  // namespace

void TPrivatePgServer::Freeze() {
  for (pid_t p : ServerProcesses(RunFolderOf(conninfo_))) kill(p, SIGSTOP);
}

void TPrivatePgServer::Thaw() {
  for (pid_t p : ServerProcesses(RunFolderOf(conninfo_))) kill(p, SIGCONT);
}

bool TPrivatePgServer::Run(const std::string& action) const {
  const std::string command = std::string(replication_ == TReplication::Logical ? "PG_SERVER_LOGICAL=1 " : "") +
                              "bash '" SELVO_SOURCE_DIR "/tests/pg/pg_server.sh' " + action + " '" +
                              dir_.file("server") + "' >/dev/null";
  return std::system(command.c_str()) == 0;
}

}  // namespace selvo::test
