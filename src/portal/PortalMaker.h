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
  // RowSummary is the schedule summary of that row (an empty object for a head-end-only
  // row); its TV schedule pages serve every STB group of the options. Returns "" or the
  // error text; Root gets the portal root to store in "config.json" ("" for none).
  virtual std::string MakePortals(TSuperReference& supRef, TDbFile& db,
                                  const std::string& SrvOptionsID, const TJson& SrvOptions,
                                  const std::string& stamp, const std::string& F,
                                  TUsedFilms& used, const TJson& RowSummary, std::string& Root) = 0;
};
