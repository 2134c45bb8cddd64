// The till service's addresses as a till and a browser meet them: each
// address takes its one method and refuses the others with Allow, a key is
// asked of all but /health, a browser's preflight is answered for the
// addresses that exist, and /openapi.json is the document built in. The
// answers are recorded too (SELVO_API_RECORD), for tests/api/check_openapi.py.
#include <httplib.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "host/shopdb/SampleShop.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::test {
namespace {

constexpr const char* kKey = "till-key-1";
constexpr const char* kAllowedOrigin = "http://till.local";

const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE", "OPTIONS", "HEAD", "PATCH", "TRACE"};

struct TAddress {
  const char* path;
  const char* method;  // the one it takes; empty: no such address
  bool keyed;          // asks for the key
};
const TAddress kAddresses[] = {{"/calc?explain=1", "POST", true}, {"/payments", "GET", true},
                               {"/health", "GET", false},         {"/metrics", "GET", true},
                               {"/openapi.json", "GET", true},    {"/nowhere", "", true}};

class OpenApiFrontTest : public ::testing::Test {
 protected:
  OpenApiFrontTest() : db(TShopDbKind::File) {
    host::CreateSampleShop(db.Address(), false);
    std::ofstream(windows.file("key")) << kKey << "\n";
  }

  // One request as a browser or a till sends it.
  httplib::Result Ask(const TServiceProcess& service, const char* method, const std::string& path, bool withKey,
                      const std::string& origin = "") {
    httplib::Request request;
    request.method = method;
    request.path = path;
    if (withKey) request.set_header("Authorization", std::string("Bearer ") + kKey);
    if (!origin.empty()) request.set_header("Origin", origin);
    if (request.method == "POST" || request.method == "PUT" || request.method == "PATCH") {
      request.set_header("Content-Type", "application/json");
      request.body = kSampleGroupSale;
    }
    return RecordedClient(service.Port())->send(request);
  }

  ModuleScope scope;
  TempDir windows;
  TTestShopDatabase db;
};

TEST_F(OpenApiFrontTest, EveryAddressTakesItsMethodAndAsksForTheKey) {
  TServiceProcess service(db.Address(), windows.path(),
                          {"--token-file", windows.file("key"), "--allow-origin", kAllowedOrigin});
  for (const TAddress& address : kAddresses) {
    for (const char* method : kMethods) {
      SCOPED_TRACE(std::string(method) + " " + address.path);
      const std::string verb = method;
      const bool known = *address.method != '\0';
      const bool taken = verb == address.method;

      // Without the key.
      httplib::Result result = Ask(service, method, address.path, false);
      ASSERT_TRUE(result);
      if (address.keyed) {
        EXPECT_EQ(result->status, 401);
        EXPECT_EQ(result->get_header_value("WWW-Authenticate"), "Bearer");
      } else {
        EXPECT_EQ(result->status, taken ? 200 : 405);
      }

      // With it.
      result = Ask(service, method, address.path, true);
      ASSERT_TRUE(result);
      if (!known) {
        EXPECT_EQ(result->status, 404);
      } else if (taken) {
        EXPECT_EQ(result->status, 200) << result->body;
      } else {
        EXPECT_EQ(result->status, 405);
        EXPECT_EQ(result->get_header_value("Allow"), address.method);
      }

      // From a web page: an origin not named is refused whatever it asks.
      result = Ask(service, method, address.path, true, "http://elsewhere.example");
      ASSERT_TRUE(result);
      EXPECT_EQ(result->status, 403);
    }

    // The browser's preflight for an allowed page needs no key.
    SCOPED_TRACE(std::string("preflight of ") + address.path);
    const httplib::Result preflight = Ask(service, "OPTIONS", address.path, false, kAllowedOrigin);
    ASSERT_TRUE(preflight);
    if (*address.method) {
      EXPECT_EQ(preflight->status, 204);
      EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Methods"), address.method);
      EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Origin"), kAllowedOrigin);
      EXPECT_TRUE(preflight->body.empty()) << preflight->body;
    } else {
      EXPECT_EQ(preflight->status, 401) << "no preflight for an address that does not exist";
    }
  }

  // The page's own request may read the answer.
  const httplib::Result sale = Ask(service, "POST", "/calc?explain=1", true, kAllowedOrigin);
  ASSERT_TRUE(sale);
  EXPECT_EQ(sale->status, 200);
  EXPECT_EQ(sale->get_header_value("Access-Control-Allow-Origin"), kAllowedOrigin);
  EXPECT_NE(nlohmann::json::parse(sale->body).value("explain", "").find("Выбрано"), std::string::npos) << sale->body;
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

TEST_F(OpenApiFrontTest, TheDocumentServedIsTheFileItWasBuiltFrom) {
  TServiceProcess service(db.Address(), windows.path());
  std::ifstream file(SELVO_SOURCE_DIR "/docs/openapi.json", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  const httplib::Result result = service.Client()->Get("/openapi.json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
  EXPECT_TRUE(result->body == text) << "the service answers another text than docs/openapi.json ("
                                    << result->body.size() << " bytes against " << text.size() << ")";
  const nlohmann::json document = nlohmann::json::parse(result->body, nullptr, false);
  ASSERT_TRUE(document.is_object());
  EXPECT_EQ(document["openapi"], "3.1.0");
  for (const TAddress& address : kAddresses) {
    const std::string path = std::string(address.path).substr(0, std::string(address.path).find('?'));
    EXPECT_EQ(document["paths"].contains(path), *address.method != '\0') << path;
  }
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

}  // namespace
}  // namespace selvo::test
