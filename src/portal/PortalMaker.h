#pragma once
// What "Create files" asks of the portal generator: the portal pages of the STB groups of one
// schedule row, written into the server's package folder.
#include <string>

#include "recstore/JrecClasses.h"
#include "package/UsedFilms.h"

class IPortalMaker {
public:
  virtual ~IPortalMaker() = default;
  // Renders the portals of SrvOptions record SrvOptions (its id in SrvOptionsID) for the
  // schedule row with the stamp of its start into package folder F (trailing separator).
  // Summaries holds the schedule summary of every row built so far. Returns "" or the error
  // text; Root gets the portal root to store in "config.json" ("" for none).
  virtual std::string MakePortals(TSuperReference& supRef, TDbFile& db,
                                  const std::string& SrvOptionsID, const TJson& SrvOptions,
                                  const std::string& stamp, const std::string& F,
                                  TUsedFilms& used, const TJson& Summaries, std::string& Root) = 0;
};
