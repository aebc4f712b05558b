#pragma once
// "Create files": builds a server's package in the local servers folder from its schedule rows.
#include <memory>
#include <string>
#include <vector>

#include "portal/PortalMaker.h"
#include "recstore/JrecClasses.h"
#include "schedule/DoSchedule.h"
#include "servers/ServerRows.h"

struct TCreateFilesResult {
  bool Ok = false;
  std::string Status;  // the last status text (the success text, or why it ended)
  std::string Folder;  // the package folder without a trailing separator
};

// Builds the package of Servers record ServerID: "update-index.txt", the groups files, the
// schedule files of every row, "config.json" and "UsedFilms.json". Every row is read and
// checked (and its schedule built) before anything is written; the files are written into a
// temporary folder beside the package folder, which takes the package folder's place only
// when the whole package is written. A failed build leaves the previous package as it was.
// Every status text and question goes through Op; Portal (may be null) renders the portal pages.
TCreateFilesResult CreateServerFiles(TDbFile& db, const std::string& ServerID, IOperator& Op,
                                     IPortalMaker* Portal = nullptr);

// Writes F + "config.json" from the server's rows. Prefix is the path the files of a satellite
// delivery system sit under ("" otherwise). Returns "" or the error text.
std::string MakeConfigFile(TSuperReference& supRef, TDbFile& db,
                           const std::vector<TServerRow>& rows, const std::string& Prefix,
                           const std::vector<std::string>& Md5, TUsedFilms& used,
                           const TJson& Summaries, const std::string& F, IOperator& Op,
                           IPortalMaker* Portal);
