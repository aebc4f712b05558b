#include "schedule/forms/Schedules.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "schedule/DoSchedule.h"
#include "schedule/forms/DoScheduleForm.h"

namespace {
TRecordFormRegistration<TFormSchedules> registration("TFormSchedules");
TFormRegistration showRegistration("TFormDoSchedule", [](QWidget* parent) -> QWidget* {
  TDbFile* db = DbF1();
  return db ? new TFormDoSchedule(parent, *db) : nullptr;
});
}  // namespace

TFormSchedules::TFormSchedules(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "Schedules", "Schedules", "New record", parent) {
  setObjectName("FormSchedules");
  setProperty("HelpContext", 19);
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  auto* top = new QHBoxLayout();
  Button1 = new QPushButton("Show schedule", TabSheetRec);
  Button1->setObjectName("Button1");
  top->addWidget(Button1);
  BtnGuideGrid = new QPushButton("Guide grid...", TabSheetRec);
  BtnGuideGrid->setObjectName("BtnGuideGrid");
  top->addWidget(BtnGuideGrid);
  top->addStretch(1);
  recLayout->addLayout(top);
  RefTblFrame1 = new TRefTblFrame(TabSheetRec);
  RefTblFrame1->setObjectName("RefTblFrame1");
  recLayout->addWidget(RefTblFrame1, 1);

  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  grid->SetColCount(2);
  grid->Columns()[1].SetCaption("Channel schedule");
  grid->Columns()[1].SetEditing(true);
  // A set may be empty while it is being put together.
  grid->SetEnableEmpty(true);
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrame1StringGridLoaded(g); };
  grid->Loaded();
  grid->setColumnWidth(1 - grid->FixedColCount(), 360);

  JFrame1->LayerComps->AddComp("Table", grid);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(BtnGuideGrid, &QPushButton::clicked, this, [this] { BtnGuideGridClick(); });
  LoadFrame();
}

void TFormSchedules::RefTblFrame1StringGridLoaded(TRefStringGrid* grid) {
  RefColumn(grid, 1, "ChSched", "Select channel's schedule");
}

TFormDoSchedule* TFormSchedules::Button1Click() {
  if (!JFrame1->AskChangesSaveNo()) return nullptr;
  const std::string id = JFrame1->ID();
  if (id.empty()) return nullptr;
  std::unique_ptr<TSchedule> sh = BuildSchedule(id, Db());
  if (!sh) return nullptr;
  auto* form = new TFormDoSchedule(nullptr, Db());
  form->ScheduleID = id;
  form->SetSchedule(std::move(sh));
  ShowAsChild(form);
  form->ButtonDoScheduleClick();
  return form;
}

QWidget* TFormSchedules::BtnGuideGridClick() {
  if (!JFrame1->AskChangesSaveNo()) return nullptr;
  const std::string id = JFrame1->ID();
  if (id.empty()) return nullptr;
  QWidget* form = TFormRegistry::Create("TFormGuideGrid", nullptr);
  if (!form) {
    AppOperator().MessageBox("Guide grid", NotAvailableMessage("TFormGuideGrid"), TMsgIcon::Information);
    return nullptr;
  }
  QMetaObject::invokeMethod(form, "ShowPlanOf", Q_ARG(QString, "Schedules"),
                            Q_ARG(QString, QString::fromStdString(id)));
  ShowAsChild(form);
  return form;
}
