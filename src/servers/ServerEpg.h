#pragma once
// The programme guide and channel lists of a server: its schedule rows built as "Create files"
// builds them, and the STB groups of the rows' server options.
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"
#include "schedule/Epg.h"

// Every schedule row of Servers record ServerID, built in build mode with the head-end channels
// of its STB groups (a row without a schedule holds the head-end channels only). A builder
// error is reported through the operator and raises EDbFException.
std::vector<TEpgRow> BuildServerEpgRows(TDbFile& db, const std::string& ServerID, IOperator& Op);

// The STB groups (Groups record ids) of the server options of every schedule row, each once,
// in row and table order.
std::vector<std::string> ServerGroups(TDbFile& db, const TJson& server);

// The channel-list entries of one STB group in the group's order (command channels, which
// carry no stream, are left out). A channel that does not resolve is reported through SupRef
// (raises EDbFException).
std::vector<TM3uEntry> GroupM3uEntries(TSuperReference& SupRef, TDbFile& db,
                                       const std::string& GroupID);

// The guide's window of a package: from today 00:00 local time, seven days.
inline constexpr int EpgDefaultDays = 7;

// Writes F + "epg.xml" and F + "channels_<group>.m3u" for every STB group of the rows. A group
// name that cannot be a file name is reported naming the group (raises EDbFException).
void WriteEpgFiles(TSuperReference& SupRef, TDbFile& db, const TJson& server,
                   const std::vector<TEpgRow>& rows, const std::string& F);
