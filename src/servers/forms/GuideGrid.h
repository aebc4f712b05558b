#pragma once
// The guide grid: the built plan of a server (or of a Schedules record) as a time grid, one row
// per channel, time across. Films and playlist items are blocks with their names and times,
// commands are marks, time off the air is red, the current time is a line. A click on a block
// or mark opens the channel schedule on its row. Drawn from the same build as the package.
#include <QWidget>
#include <functional>
#include <string>

#include "recstore/JrecClasses.h"
#include "servers/ServerPlan.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;

// The drawing itself, inside the window's scroll area. Only what is visible is painted.
class TGuideGridView : public QWidget {
  Q_OBJECT
public:
  explicit TGuideGridView(QWidget* parent = nullptr);
  static constexpr int NameWidth = 160;
  static constexpr int HeaderHeight = 28;
  static constexpr int RowHeight = 44;

  void SetGrid(TPlanGrid grid);
  const TPlanGrid& Grid() const { return FGrid; }
  // Pixels per hour: day zoom shows a day across a screen, week zoom a week.
  void SetPixelsPerHour(double pph);
  double PixelsPerHour() const { return FPph; }
  // The x of a moment and the moment at an x.
  double XOf(double t) const;  // t: seconds since the epoch
  int64_t TimeAt(double x) const;
  QRect BlockRect(size_t channel, size_t block) const;
  // What a click at Pos opens: ChSched record and row (from 1); false when nothing is there.
  bool SourceAt(const QPoint& pos, std::string& chSchedID, int& row) const;
  // The hint of what lies at Pos: a block's name and times, a command's text and time; "" for
  // none.
  QString HintAt(const QPoint& pos) const;
  // The current time as the line shows it (tests fix it).
  std::function<int64_t()> NowTime;
  std::function<void(const std::string& chSchedID, int row)> OnOpenSource;
  // The time header and the channel names stay at the visible edges while scrolling; a
  // picture of the whole grid has them at its own edges.
  void SetPinned(bool pinned) { FPinned = pinned; }

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  bool event(QEvent* e) override;

private:
  // The block or mark at Pos (one of them null), on channel Ch.
  void ItemAt(const QPoint& pos, const TEpgProgramme*& block, const TPlanCommand*& mark) const;
  TPlanGrid FGrid;
  double FPph = 120;
  bool FPinned = true;
};

class TFormGuideGrid : public QWidget {
  Q_OBJECT
public:
  explicit TFormGuideGrid(TDbFile& db, QWidget* parent = nullptr);

  QComboBox* ComboSource;  // servers, then Schedules records
  QDateEdit* DateFrom;
  QSpinBox* SpinDays;
  QPushButton* BtnDay;
  QPushButton* BtnWeek;
  QPushButton* BtnExport;
  QScrollArea* ScrollBox;
  TGuideGridView* View;
  QLabel* LabelStatus;

  // Shows the plan of a Servers record or a Schedules record; false (status says why) when it
  // cannot be built.
  bool ShowPlan(const std::string& collection, const std::string& id);
  // The same for other windows, which know this one by its class name only.
  Q_INVOKABLE bool ShowPlanOf(const QString& collection, const QString& id) {
    return ShowPlan(collection.toStdString(), id.toStdString());
  }
  // Builds the chosen entry again.
  void Rebuild();
  // Writes the whole grid as a PNG picture; false when it cannot be written.
  bool ExportPng(const std::string& path);

private:
  TDbFile& FDb;
};
