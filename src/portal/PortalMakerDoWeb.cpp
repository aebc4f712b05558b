#include "portal/PortalMakerDoWeb.h"

std::string TUsedFilmsPortal::RegisterFilm(const std::string& id, const std::string& fileName,
                                           const std::string& videoRoot) {
  return MapFilmName(id, "", fileName, videoRoot, FUsed, FOp).Error;
}

TPortalMakerDoWeb::TPortalMakerDoWeb(TDbFile& db, IOperator* StatusBar)
    : FGen(std::make_unique<TDataModuleDoWeb>(db)), FStatus(StatusBar) {}

std::string TPortalMakerDoWeb::MakePortals(TSuperReference& supRef, TDbFile& db,
                                           const std::string& SrvOptionsID,
                                           const TJson& SrvOptions, const std::string& stamp,
                                           const std::string& F, TUsedFilms& used,
                                           const TJson& RowSummary, std::string& Root) {
  TUsedFilmsPortal films(used, db.Operator());
  std::string err;
  // The server options record is the context of the errors about its rows.
  supRef.Push(db.CollectionByName("SrvOptions"), SrvOptionsID, false);
  Root = FGen->MakePortals(supRef, SrvOptionsID.empty() ? nullptr : &SrvOptions, F, stamp, err,
                           FStatus, &films, nullptr, &RowSummary);
  supRef.Pop();
  return err;
}
