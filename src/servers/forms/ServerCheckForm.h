#pragma once
// "Check all": the pre-flight check of the servers' plans as a list. A double-click opens the
// record a finding names, on its row.
#include <QWidget>
#include <functional>
#include <vector>

#include "recstore/JrecClasses.h"
#include "servers/ServerCheck.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

class TFormServerCheck : public QWidget {
  Q_OBJECT
public:
  explicit TFormServerCheck(TDbFile& db, QWidget* parent = nullptr);

  QComboBox* ComboServer;  // "All servers", then every server in tree order
  QSpinBox* SpinDays;
  QPushButton* BtnCheck;
  QTreeWidget* ListFindings;
  QLabel* LabelSummary;

  // Checks the chosen server (or all) and lists the findings.
  void BtnCheckClick();
  const std::vector<TCheckFinding>& Findings() const { return FFindings; }
  // Opens the record of finding Index on its row (what a double-click does).
  void OpenFinding(size_t index);
  // How a record is opened (tests catch it): collection, identifier, row from 1.
  std::function<void(TDbCollectionItem&, const std::string&, int)> OnOpenRecord;

private:
  void FillServers();
  TDbFile& FDb;
  std::vector<TCheckFinding> FFindings;
};
