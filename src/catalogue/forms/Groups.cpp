#include "catalogue/forms/Groups.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {
TRecordFormRegistration<TFormGroups> registration("TFormGroups");
}  // namespace

TFormGroups::TFormGroups(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "Groups", "Groups of STB", "New record", parent) {
  setObjectName("FormGroups");
  setProperty("HelpContext", 13);
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  GroupBoxDescr = DescriptionBox(TabSheetRec, EditDescr);
  recLayout->addWidget(GroupBoxDescr);

  RefTblFrame1 = new TRefTblFrame(TabSheetRec);
  RefTblFrame1->setObjectName("RefTblFrame1");
  recLayout->addWidget(RefTblFrame1, 1);
  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  grid->SetColCount(2);
  grid->Columns()[1].SetCaption("Channel");
  grid->Columns()[1].SetEditing(true);
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrame1StringGridLoaded(g); };
  grid->Loaded();

  JFrame1->LayerComps->AddComp("Description", EditDescr, vt_String);
  JFrame1->LayerComps->AddComp("Table", grid);
  LoadFrame();
}

void TFormGroups::RefTblFrame1StringGridLoaded(TRefStringGrid* grid) {
  RefColumn(grid, 1, "Channels", "Select channel");
}
