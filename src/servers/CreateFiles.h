#pragma once
// "Create files": builds a server's package in the local servers folder from its schedule rows.
#include <string>
#include <vector>

#include "portal/PortalMaker.h"
#include "recstore/JrecClasses.h"
#include "schedule/DoSchedule.h"

struct TCreateFilesResult {
  bool Ok = false;
  std::string Status;  // the last status text (the success text, or why it ended)
  std::string Folder;  // the package folder without a trailing separator
};

// Empties and fills the package folder of Servers record ServerID: "update-index.txt", the
// groups files, the schedule files of every row, "config.json" and "UsedFilms.json". Every
// status text and question goes through Op; Portal (may be null) renders the portal pages.
TCreateFilesResult CreateServerFiles(TDbFile& db, const std::string& ServerID, IOperator& Op,
                                     IPortalMaker* Portal = nullptr);

// "Calc from" and "Start at" of a server's schedule row I; a malformed value, or a missing
// "Start at" after the first row, is reported on its grid cell (which aborts).
struct TRowTimes {
  TDateTime Calc = 0;
  TDateTime Start = 0;
  bool HasStart = false;
};
TRowTimes ReadRowTimes(TSuperReference& supRef, const TJson& row, size_t i);

// Adds the head-end channels of the STB groups of a SrvOptions record to the schedule; a
// channel of a group that is neither scheduled nor head-end is reported (aborts).
void AddHeadEndChannels(TSuperReference& supRef, TDbFile& db, const TJson& srvOptions,
                        TSchedule& sh);

// Writes F + "config.json" from the server's schedule rows. Returns "" or the error text.
std::string MakeConfigFile(TSuperReference& supRef, TDbFile& db, const TJson& TSched,
                           bool Satellite, const std::vector<std::string>& Md5,
                           TUsedFilms& used, const TJson& Summaries, const std::string& F,
                           IOperator& Op, IPortalMaker* Portal);
