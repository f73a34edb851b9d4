#include "tools/agentsim/replication_log_model.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace agentsim {

const char kReplicationLogNow[] = "12/06/2026 10:00:00 AM";

namespace {

using Json = nlohmann::json;

std::string Stamp(int dayOffset, int secondOfDay) {
  // Days 4, 5 and 6 of December 2026.
  int day = 6 + dayOffset, h = secondOfDay / 3600, m = secondOfDay / 60 % 60, s = secondOfDay % 60;
  char text[40];
  snprintf(text, sizeof text, "12/%02d/2026 %02d:%02d:%02d %s", day, h % 12 == 0 ? 12 : h % 12, m, s,
           h < 12 ? "AM" : "PM");
  return text;
}

// A time from 12/04 10:00 AM to 12/06 10:00 AM, spread evenly.
std::string Spread(long i, long n) {
  long second = 10 * 3600 + (2L * 86400 - 60) * i / n;
  return Stamp(static_cast<int>(second / 86400) - 2, static_cast<int>(second % 86400));
}

Json Connection(int c) {
  Json items = {{"Form", "Connection"},
                {"Source", "CN=srv1/O=acme"},
                {"Destination", "CN=srv" + std::to_string(c + 2) + "/O=acme"},
                {"Enabled", {{"number", 1}}},
                {"RepTask", {{"number", 1}}},
                {"WeekDays", {"1", "2", "3", "4", "5", "6", "7"}}};
  switch (c % 4) {
    case 0: items["Schedule"] = "08:00 AM"; break;
    case 1: items["Schedule"] = "06:00 AM;10:00 AM;02:00 PM;06:00 PM"; break;
    case 2: items["Schedule"] = "10:00 PM - 02:00 AM"; break;
    default:
      items["Schedule"] = "07:00 AM - 10:00 PM";
      items["Interval"] = {{"number", 60}};
  }
  return items;
}

Json LogDocument(long i, long documents) {
  std::string start = Spread(i, documents);
  if (i % 10 == 9) {
    Json lines = Json::array();
    for (int k = 0; k < 5; ++k)
      lines.push_back(Spread(i - k, documents) + " Starting replication with server srv" +
                      std::to_string((i + k) % kReplicationLogConnections + 2) + "/acme");
    return {{"id", 4097 + i}, {"modified", start}, {"items", {{"Form", "Events"}, {"EventList", lines}}}};
  }
  std::string partner = "srv" + std::to_string(i % kReplicationLogConnections + 2) + "/acme";
  return {{"id", 4097 + i},
          {"modified", start},
          {"items",
           {{"Form", "Replication"},
            {"Server", "CN=srv1/O=acme"},
            {"InitiatedBy", "CN=srv1/O=acme"},
            {"SourceServer", partner},
            {"StartTime", {{"time", start}}},
            {"FinishTime", {{"time", start}}},
            {"EventList", {"Pulling mail/user" + std::to_string(i % 300) + ".vdb", "Pulled 3 documents"}},
            {"Body", "mail/user" + std::to_string(i % 300) + ".vdb: 3 added"}}}};
}

// An object member of *parent, made an empty object when it is not one.
Json& Object(Json* parent, const char* key) {
  Json& j = (*parent)[key];
  if (!j.is_object()) j = Json::object();
  return j;
}

}  // namespace

void AddReplicationLog(Json* server, long documents) {
  if (!server->is_object()) *server = Json::object();
  Object(server, "clock")["fixed"] = kReplicationLogNow;
  Json& databases = Object(server, "databases");
  Json& log = Object(&databases, "log.vdb");
  log["modified"] = kReplicationLogNow;
  Json docs = Json::array();
  for (long i = 0; i < documents; ++i) docs.push_back(LogDocument(i, documents));
  log["documents"] = std::move(docs);

  Json& names = Object(&databases, "names.vdb");
  Json& nameDocs = names["documents"];
  if (!nameDocs.is_array()) nameDocs = Json::array();
  long firstId = 8193;
  for (const Json& d : nameDocs)
    if (d.is_object() && d.contains("id") && d["id"].is_number_integer())
      firstId = std::max(firstId, d["id"].get<long>() + 1);
  Json ids = Json::array();
  for (int c = 0; c < kReplicationLogConnections; ++c) {
    nameDocs.push_back({{"id", firstId + c}, {"items", Connection(c)}});
    ids.push_back(firstId + c);
  }
  Object(&Object(&names, "views"), "$Connections")["documents"] = std::move(ids);
}

}  // namespace agentsim
