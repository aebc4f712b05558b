#include "servers/forms/ServerCheckForm.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "JFrame/FormRegistry.h"
#include "shell/Databases.h"
#include "shell/TreeDocument.h"
#include "JFrame/QtText.h"

namespace {

TFormRegistration registration("TFormServerCheck", [](QWidget* parent) -> QWidget* {
  TDbFile* db = DbF1();
  return db ? new TFormServerCheck(*db, parent) : nullptr;
});

}  // namespace

TFormServerCheck::TFormServerCheck(TDbFile& db, QWidget* parent) : QWidget(parent), FDb(db) {
  setObjectName("TFormServerCheck");
  setWindowTitle("Check all");
  auto* top = new QHBoxLayout;
  ComboServer = new QComboBox(this);
  ComboServer->setObjectName("ComboServer");
  SpinDays = new QSpinBox(this);
  SpinDays->setObjectName("SpinDays");
  SpinDays->setRange(1, 62);
  SpinDays->setValue(7);
  SpinDays->setSuffix(" days");
  BtnCheck = new QPushButton("Check", this);
  BtnCheck->setObjectName("BtnCheck");
  top->addWidget(new QLabel("Server", this));
  top->addWidget(ComboServer, 1);
  top->addWidget(SpinDays);
  top->addWidget(BtnCheck);

  ListFindings = new QTreeWidget(this);
  ListFindings->setObjectName("ListFindings");
  ListFindings->setRootIsDecorated(false);
  ListFindings->setAlternatingRowColors(true);
  ListFindings->setHeaderLabels({"", "Server", "Channel", "Day", "Finding", "Record"});
  ListFindings->header()->setSectionResizeMode(4, QHeaderView::Stretch);
  ListFindings->setToolTip("Double-click a finding to open its record");
  LabelSummary = new QLabel(this);
  LabelSummary->setObjectName("LabelSummary");

  auto* lay = new QVBoxLayout(this);
  lay->addLayout(top);
  lay->addWidget(ListFindings, 1);
  lay->addWidget(LabelSummary);
  resize(960, 480);

  OnOpenRecord = [](TDbCollectionItem& coll, const std::string& id, int row) {
    OpenRecordOnRow(coll, id, row);
  };
  connect(BtnCheck, &QPushButton::clicked, this, &TFormServerCheck::BtnCheckClick);
  connect(ListFindings, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    OpenFinding(static_cast<size_t>(item->data(0, Qt::UserRole).toULongLong()));
  });
  FillServers();
  if (FDb.DbIsOpen()) BtnCheckClick();
}

void TFormServerCheck::FillServers() {
  ComboServer->clear();
  ComboServer->addItem("All servers", QString());
  if (!FDb.DbIsOpen()) return;
  TDbCollectionItem& servers = FDb.CollectionByName("Servers");
  for (const TTreeListEntry& e : ListInTreeOrder(FDb, servers))
    if (!e.IsFolder) ComboServer->addItem(Qs(e.Name), Qs(e.ID));
}

void TFormServerCheck::BtnCheckClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  TCheckOptions o;
  o.Days = SpinDays->value();
  std::string id = ComboServer->currentData().toString().toStdString();
  try {
    FFindings = id.empty() ? CheckAllServers(FDb, o) : CheckServer(FDb, id, o);
  } catch (const std::exception& e) {
    FFindings.clear();
    TCheckFinding f;
    f.Message = e.what();
    FFindings.push_back(f);
  }
  QApplication::restoreOverrideCursor();
  ListFindings->clear();
  size_t errors = 0;
  QStyle* st = style();
  for (size_t i = 0; i < FFindings.size(); ++i) {
    const TCheckFinding& f = FFindings[i];
    bool err = f.Level == TFindingLevel::Error;
    errors += err;
    std::string rec = f.Collection;
    if (!f.RecordID.empty()) {
      std::optional<TJson> r = FDb.CollectionByName(f.Collection).GetRecord(f.RecordID);
      rec += " " + (r ? JsonStr(*r, "Name") : f.RecordID);
    }
    if (f.Row > 0) rec += ", row " + std::to_string(f.Row);
    auto* item = new QTreeWidgetItem(
        {err ? "Error" : "Warning", Qs(f.Server), Qs(f.Channel), Qs(f.Day), Qs(f.Message), Qs(rec)});
    item->setIcon(0, st->standardIcon(err ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning));
    item->setToolTip(4, Qs(f.Message));
    item->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
    ListFindings->addTopLevelItem(item);
  }
  for (int c = 0; c < 4; ++c) ListFindings->resizeColumnToContents(c);
  size_t warnings = FFindings.size() - errors;
  const bool noServers = id.empty() && ComboServer->count() < 2;
  LabelSummary->setText(noServers ? QString("The project has no servers: nothing was checked.")
                        : FFindings.empty()
                            ? QString("No error or warning: every channel plays.")
                            : QString("%1 error(s), %2 warning(s). Open record to fix? Double-click a finding.")
                                  .arg(errors)
                                  .arg(warnings));
}

void TFormServerCheck::OpenFinding(size_t index) {
  if (index >= FFindings.size()) return;
  const TCheckFinding& f = FFindings[index];
  if (f.Collection.empty() || f.RecordID.empty() || !OnOpenRecord) return;
  OnOpenRecord(FDb.CollectionByName(f.Collection), f.RecordID, f.Row);
}
