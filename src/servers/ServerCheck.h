#pragma once
// The pre-flight check: every server's plan built as "Create files" builds it, without writing a
// file, and what would go wrong on the air, per server, channel and day. Each finding names the
// record (and its row) to open to fix it.
#include <string>
#include <vector>

#include "base/CommonProcedures.h"
#include "recstore/JrecClasses.h"

enum class TFindingLevel { Warning, Error };

struct TCheckFinding {
  TFindingLevel Level = TFindingLevel::Error;
  std::string Kind;  // "build", "film", "gap", "overrun", "keep-with-next", "command", "portal", "guide"
  std::string ServerID, Server;
  std::string ChannelID, Channel;  // "" when the finding is not about one channel
  std::string Day;                 // "dd.mm.yyyy", "" when not about one day
  std::string Message;
  std::string Collection;  // the record to open: collection, identifier, row (from 1; 0: none)
  std::string RecordID;
  int Row = 0;
};

struct TCheckOptions {
  int Days = 7;
  TDateTime From = -1;  // local midnight of the first day; today when negative
};

// The findings of one Servers record.
std::vector<TCheckFinding> CheckServer(TDbFile& db, const std::string& ServerID,
                                       const TCheckOptions& o = {});
// The findings of every Servers record, in tree order.
std::vector<TCheckFinding> CheckAllServers(TDbFile& db, const TCheckOptions& o = {});

bool HasErrors(const std::vector<TCheckFinding>& findings);
std::string FindingLevelText(TFindingLevel level);  // "error" / "warning"
TJson FindingsJson(const std::vector<TCheckFinding>& findings);
// One line: level, server, channel, day, message and the record to open.
std::string FindingText(const TCheckFinding& f);
