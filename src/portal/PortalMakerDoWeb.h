#pragma once
// The portal step of "Create files", done by the portal generator.
#include <memory>

#include "portal/DoWeb.h"
#include "portal/PortalMaker.h"

// The used-films list of a package build as the generator uses it: movie pages come from its
// ByID entries, and a film linked from a page is registered with MapFilmName.
class TUsedFilmsPortal : public IPortalFilms {
public:
  TUsedFilmsPortal(TUsedFilms& used, IOperator& op) : FUsed(used), FOp(op) {}
  std::vector<TPortalMovie>& Movies() override { return FUsed.ByID; }
  std::string RegisterFilm(const std::string& id, const std::string& fileName,
                           const std::string& videoRoot) override;

private:
  TUsedFilms& FUsed;
  IOperator& FOp;
};

class TPortalMakerDoWeb : public IPortalMaker {
public:
  // StatusBar receives the generator's progress texts (may be null).
  TPortalMakerDoWeb(TDbFile& db, IOperator* StatusBar);
  std::string MakePortals(TSuperReference& supRef, TDbFile& db, const std::string& SrvOptionsID,
                          const TJson& SrvOptions, const std::string& stamp, const std::string& F,
                          TUsedFilms& used, const TJson& RowSummary, std::string& Root) override;
  TDataModuleDoWeb& Generator() { return *FGen; }

private:
  std::unique_ptr<TDataModuleDoWeb> FGen;
  IOperator* FStatus;
};
