#include "schedule/forms/SrvOptions.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {
TRecordFormRegistration<TFormSrvOptions> registration("TFormSrvOptions");
}  // namespace

TFormSrvOptions::TFormSrvOptions(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "SrvOptions", "Server's options", "New record", parent) {
  setObjectName("FormSrvOptions");
  setProperty("HelpContext", 27);
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  RefTblFrame1 = new TRefTblFrame(TabSheetRec);
  RefTblFrame1->setObjectName("RefTblFrame1");
  recLayout->addWidget(RefTblFrame1, 1);
  GroupBoxDescr = DescriptionBox(TabSheetRec, EditDescr);
  recLayout->addWidget(GroupBoxDescr);

  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  grid->SetColCount(3);
  grid->Columns()[1].SetCaption("STB group");
  grid->Columns()[1].SetEditing(true);
  grid->Columns()[2].SetCaption("Web portal");
  grid->Columns()[2].SetEditing(true);
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrame1StringGridLoaded(g); };
  grid->Loaded();
  grid->setColumnWidth(0, 260);  // "STB group"; "Web portal" takes the rest

  JFrame1->LayerComps->AddComp("Table", grid);
  JFrame1->LayerComps->AddComp("Description", EditDescr, vt_String);
  LoadFrame();
}

void TFormSrvOptions::RefTblFrame1StringGridLoaded(TRefStringGrid* grid) {
  RefColumn(grid, 1, "Groups", "Select STB group");
  // A group may go without a portal.
  RefColumn(grid, 2, "Portals", "Select Web portal")->SetEnableEmpty(true);
}
