#include "shell/forms/Backups.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

#include "recstore/Backups.h"
#include "shell/ProjectHistory.h"
#include "JFrame/QtText.h"

namespace {
std::string Std(const QString& s) { return s.toStdString(); }
QString DayText(const std::string& d) {
  return d.size() == 8 ? Qs(d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2)) : Qs(d);
}
QTableWidget* MakeTable(QWidget* parent, const QString& name, const QStringList& headers) {
  auto* t = new QTableWidget(0, headers.size(), parent);
  t->setObjectName(name);
  t->setAccessibleName(name);
  t->setHorizontalHeaderLabels(headers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->verticalHeader()->setVisible(false);
  t->horizontalHeader()->setStretchLastSection(true);
  return t;
}
}  // namespace

TFormBackups::TFormBackups(TDbFile& db, QWidget* parent) : QDialog(parent), FDb(db) {
  setObjectName("FormBackups");
  setWindowTitle("Backups");
  resize(820, 560);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Daily backups of the project (the file as it was before the "
                               "first change of the day):", this));
  TableBackups = MakeTable(this, "TableBackups", {"Date", "Size", "Records"});
  TableBackups->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(TableBackups, 2);
  layout->addWidget(new QLabel("From the chosen backup to the project now:", this));
  TableDiff = MakeTable(this, "TableDiff", {"Collection", "Change", "Name", "ID"});
  TableDiff->setSelectionMode(QAbstractItemView::ExtendedSelection);
  layout->addWidget(TableDiff, 3);
  LabelState = new QLabel(this);
  LabelState->setObjectName("LabelState");
  LabelState->setWordWrap(true);
  layout->addWidget(LabelState);
  auto* buttons = new QHBoxLayout;
  BtnRestoreAll = new QPushButton("Restore the whole project", this);
  BtnRestoreAll->setObjectName("BtnRestoreAll");
  BtnRestoreSelected = new QPushButton("Restore selected records", this);
  BtnRestoreSelected->setObjectName("BtnRestoreSelected");
  auto* close = new QPushButton("Close", this);
  close->setObjectName("BtnClose");
  buttons->addWidget(BtnRestoreAll);
  buttons->addWidget(BtnRestoreSelected);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(BtnRestoreAll, &QPushButton::clicked, this, &TFormBackups::RestoreAll);
  connect(BtnRestoreSelected, &QPushButton::clicked, this, &TFormBackups::RestoreSelected);
  connect(TableBackups, &QTableWidget::itemSelectionChanged, this, &TFormBackups::ShowDifferences);
  Refresh();
}

void TFormBackups::Refresh() {
  TableBackups->setRowCount(0);
  TableDiff->setRowCount(0);
  const bool file = !FDb.UseMongoDb() && !FDb.FileName().empty();
  if (!file) {
    LabelState->setText("A MongoDB database keeps no backups here: write a copy with "
                        "\"pelmora-cli --mongo HOST/DB export FILE\" and bring it back with "
                        "\"import FILE\".");
    BtnRestoreAll->setEnabled(false);
    BtnRestoreSelected->setEnabled(false);
    return;
  }
  auto backups = ListBackups(FDb.FileName());
  TableBackups->setRowCount(static_cast<int>(backups.size()));
  int row = 0;
  for (auto it = backups.rbegin(); it != backups.rend(); ++it, ++row) {
    auto* date = new QTableWidgetItem(DayText(it->Day));
    date->setData(Qt::UserRole, Qs(it->Path));
    TableBackups->setItem(row, 0, date);
    TableBackups->setItem(row, 1, new QTableWidgetItem(QString::number(it->Size)));
    QString counts;
    try {
      TJson c = DocumentCounts(ReadProjectDocument(it->Path));
      size_t n = 0;
      for (auto m = c.begin(); m != c.end(); ++m)
        if (m.key() != "Tree") n += m.value().get<size_t>();
      counts = QString::number(n);
    } catch (const std::exception& e) {
      counts = "cannot be read: " + Qs(e.what());
    }
    TableBackups->setItem(row, 2, new QTableWidgetItem(counts));
  }
  TableBackups->resizeColumnsToContents();
  const bool any = !backups.empty();
  BtnRestoreAll->setEnabled(any && !FDb.SaveDisabled());
  BtnRestoreSelected->setEnabled(any && !FDb.SaveDisabled());
  if (!any)
    LabelState->setText("No backups yet: the first change of a day keeps the project as it was "
                        "in " + Qs(BackupFolderOf(FDb.FileName())) + ".");
  else
    TableBackups->selectRow(0);
}

QString TFormBackups::SelectedBackup() const {
  auto rows = TableBackups->selectionModel()->selectedRows();
  if (rows.isEmpty()) return {};
  return TableBackups->item(rows.first().row(), 0)->data(Qt::UserRole).toString();
}

void TFormBackups::ShowDifferences() {
  TableDiff->setRowCount(0);
  QString path = SelectedBackup();
  if (path.isEmpty()) return;
  try {
    auto diffs = DiffDocuments(ReadProjectDocument(Std(path)), DatabaseDocument(FDb));
    TableDiff->setRowCount(static_cast<int>(diffs.size()));
    for (int i = 0; i < static_cast<int>(diffs.size()); ++i) {
      const auto& d = diffs[static_cast<size_t>(i)];
      TableDiff->setItem(i, 0, new QTableWidgetItem(Qs(d.Collection)));
      // What restoring the record does: the project's change seen from the backup.
      TableDiff->setItem(i, 1, new QTableWidgetItem(Qs(d.Kind)));
      TableDiff->setItem(i, 2, new QTableWidgetItem(Qs(d.Name)));
      TableDiff->setItem(i, 3, new QTableWidgetItem(Qs(d.ID)));
    }
    TableDiff->resizeColumnsToContents();
    LabelState->setText(diffs.empty() ? "The project holds what this backup holds."
                                      : QString("%1 records differ. \"deleted\" records come back "
                                                "and \"changed\" ones return to the backup's "
                                                "version when restored.")
                                            .arg(diffs.size()));
  } catch (const std::exception& e) {
    LabelState->setText("The backup cannot be compared: " + Qs(e.what()));
  }
}

bool TFormBackups::Confirm(const QString& text) {
  if (!AskFirst) return true;
  return QMessageBox::question(this, "Backups", text) == QMessageBox::Yes;
}

void TFormBackups::RestoreAll() {
  QString path = SelectedBackup();
  if (path.isEmpty()) return;
  if (!Confirm("Make the whole project as it was in the backup of " +
               TableBackups->item(TableBackups->currentRow() < 0 ? 0 : TableBackups->currentRow(), 0)->text() +
               "? Today's backup keeps the project as it is now."))
    return;
  try {
    TRestoreResult r = RestoreFromDocument(FDb, ReadProjectDocument(Std(path)));
    FLastResult = QString("Restored: %1 added, %2 changed, %3 deleted.")
                      .arg(r.Added).arg(r.Changed).arg(r.Deleted);
  } catch (const std::exception& e) {
    FLastResult = "Not restored: " + Qs(e.what());
    if (AskFirst) QMessageBox::warning(this, "Backups", FLastResult);
  }
  ShowDifferences();
  LabelState->setText(FLastResult);
}

void TFormBackups::RestoreSelected() {
  QString path = SelectedBackup();
  if (path.isEmpty()) return;
  std::vector<std::pair<std::string, std::string>> chosen;
  int skipped = 0;
  std::set<int> rows;
  for (const auto& idx : TableDiff->selectionModel()->selectedRows()) rows.insert(idx.row());
  for (int row : rows) {
    if (TableDiff->item(row, 1)->text() == "added") {
      ++skipped;  // not in the backup: nothing to bring back
      continue;
    }
    chosen.push_back({Std(TableDiff->item(row, 0)->text()), Std(TableDiff->item(row, 3)->text())});
  }
  if (chosen.empty()) {
    FLastResult = skipped ? "The chosen records are not in the backup (added since)."
                          : "Choose the records to restore in the list.";
    LabelState->setText(FLastResult);
    return;
  }
  if (!Confirm(QString("Bring back %1 records as the backup holds them?").arg(chosen.size())))
    return;
  int done = 0;
  QString failure;
  try {
    TJson backup = ReadProjectDocument(Std(path));
    for (const auto& [coll, id] : chosen) {
      RestoreFromDocument(FDb, backup, coll, id);
      ++done;
    }
  } catch (const std::exception& e) {
    failure = Qs(e.what());
  }
  FLastResult = QString("Restored %1 of %2 records.").arg(done).arg(chosen.size());
  if (skipped) FLastResult += QString(" %1 added since the backup were left.").arg(skipped);
  if (!failure.isEmpty()) {
    FLastResult += " " + failure;
    if (AskFirst) QMessageBox::warning(this, "Backups", FLastResult);
  }
  ShowDifferences();
  LabelState->setText(FLastResult);
}
