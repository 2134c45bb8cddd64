// A chain of stations: the head office's shop database publishes the
// settings (the six shop tables and their history) by PostgreSQL's logical
// replication, and every station's database, on its own server, subscribes
// to them. Nothing of the settings is copied by this program: the servers
// replicate, each version arriving as the one transaction that saved it.
//
// What each side holds besides the settings:
// - "ChainHead", at a station only: the head office it follows (its address
//   without passwords) and the station's name. Its row makes every local
//   write of the settings refused, by the program with one message and by
//   the database's own triggers for everything else, since a version of the
//   station's own would take a number the head office's next one needs;
// - "ChainStation" and "ChainService": where a station stands (the version
//   its database holds and when it arrived; the version each of its
//   services answers with and when it said so). A station writes its own
//   rows and publishes them, and the head office subscribes to each
//   station, so the figures travel back by the same engine.
//
// Station names are any text of up to kMaxStationName characters; the
// replication's own names (subscriptions, slots) are made from a digest of
// it, since the server takes only a few characters there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/shopdb/ShopConnection.h"

namespace selvo::host {

inline constexpr std::size_t kMaxStationName = 64;

// The station this database is, when it follows a head office.
struct TChainMembership {
  std::string head;  // the head office's address, without passwords
  std::string name;  // the station's name
};
std::optional<TChainMembership> ChainMembershipOf(TShopConnection& connection);
// The one message every local change of a station's settings is refused with.
std::string StationRefusal(const TChainMembership& membership);
// Raises EDatabaseError with StationRefusal when `connection` is a station's.
void RefuseAtStation(TShopConnection& connection);

// Raises EDatabaseError when a new shop must not replace this one: a
// station's (StationRefusal), or a head office's, whose new tables would
// leave the publication and clash with the rows the stations hold.
void RefuseNewShopInChain(TShopConnection& connection);

struct TPublishResult {
  std::int64_t version = 0;  // the newest version published
};
// Makes the head office's database (on a server) a publisher of the
// settings. EDatabaseError, saying what to change, when the server lacks
// what logical replication needs, or the database is no shop or is a
// station itself. Publishing again only brings the publication up to date.
TPublishResult PublishSettings(const std::string& headDatabase);

struct TJoinRequest {
  std::string station;  // the station's database address
  std::string head;     // the head office's address, as the station's server reaches it
  std::string name;     // the station's name; empty: this computer's name
  // The station's address as the head office's server reaches it; empty:
  // `station` itself.
  std::string stationFromHead;
};
struct TJoinResult {
  std::string name;
  std::int64_t version = 0;  // the head office's version the station holds now
};
// Makes the station's database a subscriber: its settings are replaced by
// the head office's (copied whole before this returns), and from then on
// they come only from there. Undoes what it made when a step fails.
TJoinResult JoinChain(const TJoinRequest& request);

struct TLeaveResult {
  std::string name;
  std::int64_t version = 0;  // the version the station keeps as its own
  // What could not be tidied at the head office (it could not be reached),
  // as lines that say what to do there; empty when all is done.
  std::vector<std::string> leftAtHead;
};
// Ends the station's subscription and makes its settings its own again, as
// they stand. `head`: the head office's address to tidy up there; empty:
// the address the station keeps (without passwords).
TLeaveResult LeaveChain(const std::string& stationDatabase, const std::string& head);

// What a station's service tells the head office: the version it answers
// with, as of now. `service` names it among the station's services (its
// computer and listening address). False, writing nothing, at a database
// that is no station. EDatabaseError when the write fails.
bool ReportServiceVersion(TShopConnection& connection, const std::string& service, std::int64_t version);

struct TServiceStanding {
  std::string service;
  std::int64_t version = 0;
  std::string heardAt;  // "2026-12-10T14:03:05", the head office's local time
  double secondsAgo = 0;
};
struct TStationStanding {
  std::string name;
  std::int64_t heldVersion = 0;  // the version the station's database holds
  std::int64_t behind = 0;       // versions the head office has that it lacks
  std::vector<TServiceStanding> services;
  std::string lastHeard;  // empty when never heard from
  double secondsSinceHeard = -1;
  bool receiving = false;  // the head office's line to it is open now
};
struct TChainStatus {
  std::int64_t headVersion = 0;
  std::vector<TStationStanding> stations;  // by name
};
// Where each station stands, as the head office knows it.
TChainStatus ReadChainStatus(const std::string& headDatabase);

// A service heard from longer ago than this is taken for stopped.
inline constexpr double kServiceSilentSeconds = 60;

}  // namespace selvo::host
