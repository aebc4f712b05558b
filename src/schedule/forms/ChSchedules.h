#pragma once
// The channel schedules window: what one channel broadcasts during its period. After every
// change the rows are checked and each shows its computed duration, time range and error marks.
#include <functional>
#include <optional>
#include <vector>

#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"
#include "schedule/ChSchedCheck.h"

class QCheckBox;
class QLabel;
class QPushButton;
class TDateTimeEdit;
class TRefEdit;
class TFormDoSchedule;

class TFormChSchedules : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormChSchedules(TDbFile& db, QWidget* parent = nullptr);

  QLabel* LabelChannel;
  TRefEdit* RefEditChannels;
  QCheckBox* CheckBoxRepeatImmediately;  // "Period - Auto"
  QLabel* LabelPeriod;
  TDateTimeEdit* DateTimeEditPeriod;
  TRefTblFrame* RefTblFrame1;
  QPushButton* BtnShowSchedule;
  QPushButton* BtnShuffle;

  // Grid columns (column 0 holds the row numbers).
  enum { ColStart = 1, ColInterval, ColContent, ColCommands, ColDuration, ColTimes, ColCount };

  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);
  // Recomputes every row and shows the results.
  void JFrame1Change();
  void RefEditChannelsChange();
  void RefTblFrame1StringGridBeforeSelectCell(int ACol, int ARow, bool& CanSelect);
  void RefTblFrame1StringGridDrawCell(QPainter* painter, int ACol, int ARow, const QRect& rect,
                                      bool& MakeDefaultDraw);
  // The hint of a "Times" cell: the row's messages, last slot first, one per line.
  QString TimesHint(int ARow) const;
  // Builds the record as shown and opens "Show schedule" on it; the window or nullptr.
  TFormDoSchedule* BtnShowScheduleClick();
  void BtnShuffleClick();

  // The last recompute (rows as shown).
  const TChSchedRecompute& LastRecompute() const { return FLast; }
  // Block number of each data row (a row with a start time begins a block).
  const std::vector<int>& RowBlocks() const { return FBlocks; }
  // Asks a shuffle question: Caption, Prompt, default text; nothing when cancelled. Tests
  // answer here instead of a dialog.
  std::function<std::optional<QString>(const QString&, const QString&, const QString&)> OnInputQuery;
  // The shuffle's random seed; 0 seeds from the clock.
  uint32_t ShuffleSeed = 0;

private:
  void ShowRows();
  bool CommandChannel() const;
  TChSchedRecompute FLast;
  // Records and films found by the recomputes, kept from one change to the next.
  std::shared_ptr<TScheduleRecordIndex> FIndex = std::make_shared<TScheduleRecordIndex>();
  std::vector<int> FBlocks;
  bool FInRecompute = false;
  int FChannelType = -1;  // -1: none
};
