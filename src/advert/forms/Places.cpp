#include "advert/forms/Places.h"

#include <QGroupBox>
#include <QVBoxLayout>

#include "JFrame/RefStringGrid.h"
#include "advert/Contracts.h"

namespace {
TFormRegistration registration("TFormPlaces", [](QWidget* parent) -> QWidget* {
  TDbFile* db = ContractsDb();
  return db ? new TFormPlaces(*db, parent) : nullptr;
});
}  // namespace

TFormPlaces::TFormPlaces(TDbFile& contracts, QWidget* parent, TDbFile* mainDb)
    : TRecordForm(contracts, "Places", "Places", "New place", parent),
      FMainDb(mainDb ? mainDb : DbF1()) {
  setObjectName("FormPlaces");
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  PanelOptions = new QGroupBox("Timeline options", TabSheetRec);
  PanelOptions->setObjectName("PanelOptions");
  auto* panelLayout = new QVBoxLayout(PanelOptions);
  RefTblFrame1 = new TRefTblFrame(PanelOptions);
  RefTblFrame1->setObjectName("RefTblFrame1");
  panelLayout->addWidget(RefTblFrame1, 1);
  recLayout->addWidget(PanelOptions, 1);

  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  grid->SetColCount(3);
  for (int c = 0; c < 2; ++c) {
    grid->Columns()[c + 1].SetCaption(PlaceColumnCaptions[c]);
    grid->Columns()[c + 1].SetEditing(true);
  }
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrame1StringGridLoaded(g); };
  grid->Loaded();
  grid->setColumnWidth(0, 240);  // "Server"; "Group of STB" takes the rest

  JFrame1->LayerComps->AddComp("Table", grid);
  LoadFrame();
}

void TFormPlaces::RefTblFrame1StringGridLoaded(TRefStringGrid* grid) {
  const struct {
    const char* Coll;
    const char* Caption;
  } columns[2] = {{"Servers", "Select server"}, {"Groups", "Select STB group"}};
  for (int c = 0; c < 2; ++c) {
    auto* edit = new TRG_RefEdit(grid);
    edit->SetAfterCreate(c + 1);
    if (FMainDb) {
      TCollectionData cd;
      FMainDb->SC(columns[c].Coll, "Tree", cd);
      edit->AddCollData(cd);
    }
    edit->SetTreeCaption(columns[c].Caption);
  }
}
