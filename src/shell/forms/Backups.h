#pragma once
// File > "Backups...": the daily backups of the open project, what differs between the chosen
// backup and the project now, and "Restore" of the whole project or of the chosen records.
#include <QDialog>

#include "recstore/JrecClasses.h"

class QTableWidget;
class QPushButton;
class QLabel;

class TFormBackups : public QDialog {
  Q_OBJECT
public:
  TFormBackups(TDbFile& db, QWidget* parent = nullptr);

  QTableWidget* TableBackups;
  QTableWidget* TableDiff;
  QPushButton* BtnRestoreAll;
  QPushButton* BtnRestoreSelected;
  QLabel* LabelState;

  // Fills the list of backups (newest first) and shows the differences of the first.
  void Refresh();
  // What restoring did, for the status line and the tests.
  QString LastResult() const { return FLastResult; }
  // Without questions (tests): restores as if the operator had said Yes.
  bool AskFirst = true;
  void RestoreAll();
  void RestoreSelected();

private:
  TDbFile& FDb;
  QString FLastResult;
  QString SelectedBackup() const;
  void ShowDifferences();
  bool Confirm(const QString& text);
};
