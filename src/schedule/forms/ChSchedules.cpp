#include "schedule/forms/ChSchedules.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <chrono>

#include "JFrame/FloatSpin.h"
#include "JFrame/RefEdit.h"
#include "catalogue/Channels.h"
#include "schedule/DoSchedule.h"
#include "schedule/forms/ChShCommands.h"
#include "schedule/forms/DoScheduleForm.h"
#include "JFrame/QtText.h"

namespace {
TRecordFormRegistration<TFormChSchedules> registration("TFormChSchedules");

std::string Std(const QString& s) { return s.toStdString(); }

const QColor BlockColor(192, 192, 192);

// Shows the hint of a "Times" cell where the mouse rests.
class TTimesHintFilter : public QObject {
public:
  explicit TTimesHintFilter(TFormChSchedules* form) : QObject(form), FForm(form) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    auto* he = static_cast<QHelpEvent*>(event);
    TRefStringGrid* g = FForm->RefTblFrame1->StringGrid;
    // The table counts its rows and columns without the header row and the row numbers.
    const int tableRow = g->rowAt(he->pos().y());
    const int tableCol = g->columnAt(he->pos().x());
    QString hint;
    if (tableRow >= 0 && tableCol + g->FixedColCount() == TFormChSchedules::ColTimes)
      hint = FForm->TimesHint(tableRow + g->FixedRowCount());
    if (hint.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(he->globalPos(), hint, g->viewport(), {}, 120000);
    (void)watched;
    return true;
  }

private:
  TFormChSchedules* FForm;
};

// The icon of error slot k (k = -1: no error).
void DrawErrorIcon(QPainter* p, const QRect& r, int k) {
  p->save();
  p->setRenderHint(QPainter::Antialiasing);
  QColor c = k < 0 ? QColor(60, 160, 60)
                   : (k == TimeErr || k == Period || k == CalcStopped || k == InvalidReference)
                         ? QColor(200, 40, 40)
                         : QColor(230, 140, 20);
  p->setBrush(c);
  p->setPen(Qt::NoPen);
  p->drawEllipse(r.adjusted(1, 1, -1, -1));
  p->setPen(Qt::white);
  QFont f = p->font();
  f.setBold(true);
  f.setPointSize(7);
  p->setFont(f);
  p->drawText(r, Qt::AlignCenter, k < 0 ? QString::fromUtf8("\u2713") : QString::number(k + 1));
  p->restore();
}

}  // namespace

TFormChSchedules::TFormChSchedules(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "ChSched", "Channel schedule", "New channel schedule", parent) {
  setObjectName("FormChSchedules");
  setProperty("HelpContext", 18);
  resize(1180, 560);  // the grid's six columns next to the record tree
  auto* recLayout = new QVBoxLayout(TabSheetRec);

  auto* top = new QHBoxLayout();
  LabelChannel = new QLabel("Channel", TabSheetRec);
  RefEditChannels = new TRefEdit(TabSheetRec);
  RefEditChannels->setObjectName("RefEditChannels");
  RefEditChannels->setMinimumWidth(200);
  {
    TCollectionData cd;
    db.SC("Channels", "Tree", cd);
    RefEditChannels->AddCollData(cd);
    RefEditChannels->SetTreeCaption("Select channel");
  }
  top->addWidget(LabelChannel);
  top->addWidget(RefEditChannels, 2);
  CheckBoxRepeatImmediately = new QCheckBox("Period - Auto", TabSheetRec);
  CheckBoxRepeatImmediately->setObjectName("CheckBoxRepeatImmediately");
  CheckBoxRepeatImmediately->setChecked(true);
  top->addSpacing(12);
  top->addWidget(CheckBoxRepeatImmediately);
  LabelPeriod = new QLabel("Period", TabSheetRec);
  DateTimeEditPeriod = new TDateTimeEdit(TabSheetRec);
  DateTimeEditPeriod->setObjectName("DateTimeEditPeriod");
  DateTimeEditPeriod->SetFormat("q hh:nn:ss");
  DateTimeEditPeriod->SetButtonVisible(false);
  DateTimeEditPeriod->SetValueAsText("1 00:00:00");
  DateTimeEditPeriod->setMinimumWidth(100);
  DateTimeEditPeriod->setMaximumWidth(130);
  top->addWidget(LabelPeriod);
  top->addWidget(DateTimeEditPeriod);
  top->addStretch(1);
  BtnShuffle = new QPushButton("Shuffle", TabSheetRec);
  BtnShuffle->setObjectName("BtnShuffle");
  BtnShowSchedule = new QPushButton("Show schedule", TabSheetRec);
  BtnShowSchedule->setObjectName("BtnShowSchedule");
  top->addWidget(BtnShuffle);
  top->addWidget(BtnShowSchedule);
  recLayout->addLayout(top);

  RefTblFrame1 = new TRefTblFrame(TabSheetRec);
  RefTblFrame1->setObjectName("RefTblFrame1");
  recLayout->addWidget(RefTblFrame1, 1);
  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  grid->SetColCount(ColCount);
  const char* captions[] = {"", "Start time", "Interval", "Film or playlist", "Commands", "Duration", "Times"};
  for (int c = ColStart; c < ColCount; ++c) {
    grid->Columns()[c].SetCaption(captions[c]);
    grid->Columns()[c].SetEditing(c <= ColCommands);
  }
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrame1StringGridLoaded(g); };
  grid->Loaded();
  grid->OnBeforeSelectCell = [this](TRefStringGrid*, int c, int r, bool& can) {
    RefTblFrame1StringGridBeforeSelectCell(c, r, can);
  };
  grid->OnDrawCell = [this](TRefStringGrid*, QPainter* p, int c, int r, const QRect& rect,
                            QStyle::State, bool& def) { RefTblFrame1StringGridDrawCell(p, c, r, rect, def); };
  grid->viewport()->installEventFilter(new TTimesHintFilter(this));
  // The table's columns are counted without the row-number column.
  const std::pair<int, int> widths[] = {{ColStart, 100},    {ColInterval, 60}, {ColContent, 200},
                                        {ColCommands, 150}, {ColDuration, 70}, {ColTimes, 240}};
  for (auto [c, w] : widths) grid->setColumnWidth(c - grid->FixedColCount(), w);

  JFrame1->LayerComps->AddComp("Channel", RefEditChannels);
  JFrame1->LayerComps->AddComp("Table", grid);
  JFrame1->LayerComps->AddComp("AutoPeriod", CheckBoxRepeatImmediately);
  JFrame1->LayerComps->AddComp("Period", DateTimeEditPeriod, vt_String);  // kept as its "q hh:nn:ss" text

  JFrame1->OnChange = [this](TJFrame*) { RefEditChannelsChange(); };
  connect(RefEditChannels, &TRefEdit::Changed, this, [this] { RefEditChannelsChange(); });
  connect(CheckBoxRepeatImmediately, &QCheckBox::toggled, this, [this] { JFrame1Change(); });
  connect(DateTimeEditPeriod, &TDateTimeEdit::Changed, this, [this] { JFrame1Change(); });
  connect(grid, &TRefStringGrid::Changed, this, [this] { JFrame1Change(); });
  connect(BtnShowSchedule, &QPushButton::clicked, this, [this] { BtnShowScheduleClick(); });
  connect(BtnShuffle, &QPushButton::clicked, this, [this] { BtnShuffleClick(); });
  LoadFrame();
}

void TFormChSchedules::RefTblFrame1StringGridLoaded(TRefStringGrid* grid) {
  auto* start = new TRG_DateTimeEdit(grid);
  start->SetAfterCreate(ColStart);
  start->SetFormat("q hh:nn:ss");
  start->SetEmptyEnabled(true);
  start->SetButtonVisible(false);
  start->SetStartValueAsString("");

  auto* typ = new TRG_ComboBox(grid);
  typ->addItems({"Trim", "Del"});
  typ->SetAfterCreate(ColInterval);
  typ->SetStartValue(0);

  auto* content = new TRG_RefEdit(grid);
  content->SetAfterCreate(ColContent);
  for (const char* coll : {"Films", "PlayLists"}) {
    TCollectionData cd;
    Db().SC(coll, "Tree", cd);
    content->AddCollData(cd);
  }
  content->SetTreeCaption("Select film or playlist");

  auto* cmds = new TRG_BtnEdit(grid);
  cmds->SetAfterCreate(ColCommands);
  cmds->setReadOnly(true);
  cmds->FStartJson = TJson::array();
  TDbFile* db = &Db();
  cmds->FOnTextNeedUpdate = [db](TRG_BtnEdit*, const TJson& json, QString& text, int, int) {
    text = Qs(CmdListText(*db, json));
  };
  cmds->FormClassName = "TFormChShCommands";
  cmds->FormClass = [db](TRG_BtnEdit* owner) -> QDialog* {
    return new TFormChShCommands(owner, owner->Json(), elmt_cmdChan, db);
  };
}

bool TFormChSchedules::CommandChannel() const { return FChannelType == ChTypeCommand; }

void TFormChSchedules::RefEditChannelsChange() {
  FChannelType = -1;
  const std::string& id = RefEditChannels->RecordID()._ID;
  if (!id.empty())
    if (std::optional<TJson> ch = Db().CollectionByName("Channels").GetRecord(id))
      FChannelType = static_cast<int>(JsonInt(*ch, "Type"));
  RefTblFrame1->StringGrid->Columns()[ColContent].SetEditing(!CommandChannel());
  JFrame1Change();
}

void TFormChSchedules::JFrame1Change() {
  if (FInRecompute || JFrame1->RecordToCompIsExecuting()) return;
  FInRecompute = true;
  const bool autoPeriod = CheckBoxRepeatImmediately->isChecked();
  DateTimeEditPeriod->setEnabled(!autoPeriod);
  LabelPeriod->setEnabled(!autoPeriod);
  TJson record = JFrame1->LayerComps->GetCompInfo();
  try {
    FLast = RecomputeChSched(Db(), JFrame1->ID(), record, nullptr, FIndex);
    if (FLast.Period && autoPeriod) DateTimeEditPeriod->SetValue(*FLast.Period);
  } catch (const EDbFException&) {
    // Already shown; the grid keeps what it showed.
  }
  ShowRows();
  FInRecompute = false;
}

void TFormChSchedules::ShowRows() {
  TRefStringGrid* g = RefTblFrame1->StringGrid;
  const int first = g->FixedRowCount();
  const int n = g->DataRowCount();
  FBlocks.assign(static_cast<size_t>(n), 0);
  int block = -1;
  for (int i = 0; i < n; ++i) {
    QString start = g->Cells(ColStart, first + i);
    start.remove(' ');
    if (i == 0 || !start.isEmpty()) ++block;
    FBlocks[static_cast<size_t>(i)] = block;
  }
  g->BeginUpdate();
  for (int i = 0; i < n && i < static_cast<int>(FLast.Rows.size()); ++i) {
    const TChSchedRowView& v = FLast.Rows[static_cast<size_t>(i)];
    g->SetCells(ColDuration, first + i, Qs(v.Duration));
    g->SetCells(ColTimes, first + i, Qs(v.Times()));
  }
  g->EndUpdate();
  g->viewport()->update();
}

QString TFormChSchedules::TimesHint(int ARow) const {
  int i = ARow - RefTblFrame1->StringGrid->FixedRowCount();
  if (i < 0 || i >= static_cast<int>(FLast.Rows.size())) return {};
  QStringList lines;
  const auto& err = FLast.Rows[static_cast<size_t>(i)].Err;
  for (int k = OneFilmErrorCount - 1; k >= 0; --k)
    if (!err[static_cast<size_t>(k)].empty()) lines << Qs(err[static_cast<size_t>(k)]);
  return lines.join('\n');
}

void TFormChSchedules::RefTblFrame1StringGridBeforeSelectCell(int ACol, int ARow, bool& CanSelect) {
  if (ACol != ColInterval) return;
  TRefStringGrid* g = RefTblFrame1->StringGrid;
  QString start = g->Cells(ColStart, ARow);
  start.remove(' ');
  bool timed = ARow == g->FixedRowCount() || !start.isEmpty();
  CanSelect = timed && g->Columns()[ColContent].Editing();
}

void TFormChSchedules::RefTblFrame1StringGridDrawCell(QPainter* painter, int ACol, int ARow,
                                                      const QRect& rect, bool& MakeDefaultDraw) {
  TRefStringGrid* g = RefTblFrame1->StringGrid;
  const int i = ARow - g->FixedRowCount();
  if (i < 0 || ACol < g->FixedColCount()) return;
  if (CommandChannel()) {
    if (ACol == ColInterval || ACol == ColContent) {
      painter->fillRect(rect, g->palette().color(QPalette::Base));
      MakeDefaultDraw = false;
      return;
    }
  } else {
    if (i < static_cast<int>(FBlocks.size()) && FBlocks[static_cast<size_t>(i)] % 2 == 1)
      painter->fillRect(rect, BlockColor);
    if (ACol == ColInterval && i > 0) {
      QString start = g->Cells(ColStart, ARow);
      start.remove(' ');
      if (start.isEmpty()) {
        MakeDefaultDraw = false;
        return;
      }
    }
  }
  if (ACol != ColTimes) return;
  MakeDefaultDraw = false;
  // The marks come first, so they stay in sight however wide the column is: a check mark for a
  // clean row, else one numbered mark per error slot; the time range follows them.
  QString text = g->Cells(ColTimes, ARow);
  int bar = text.indexOf('|');
  QString range = bar < 0 ? text : text.left(bar);
  const int size = qMin(16, rect.height() - 2);
  const int y = rect.top() + (rect.height() - size) / 2;
  int x = rect.left() + 2;
  if (bar < 0) {
    DrawErrorIcon(painter, QRect(x, y, size, size), -1);
    x += size + 3;
  } else if (i < static_cast<int>(FLast.Rows.size())) {
    const auto& err = FLast.Rows[static_cast<size_t>(i)].Err;
    for (int k = 0; k < OneFilmErrorCount; ++k) {
      if (err[static_cast<size_t>(k)].empty()) continue;
      DrawErrorIcon(painter, QRect(x, y, size, size), k);
      x += size + 3;
    }
  }
  painter->save();
  painter->setPen(g->palette().color(QPalette::Text));
  painter->drawText(QRect(x + 2, rect.top(), rect.right() - x - 2, rect.height()),
                    Qt::AlignVCenter | Qt::AlignLeft, range);
  painter->restore();
}

TFormDoSchedule* TFormChSchedules::BtnShowScheduleClick() {
  TJson record = JFrame1->CompToRecord(false);
  auto sh = std::make_unique<TSchedule>(&Db());
  sh->Name = JsonStr(record, "Name");
  std::vector<TOneFilmInfo> rows;
  TSuperReference supRef(&AppOperator());
  try {
    ChannelBuild(supRef, Db(), JFrame1->ID(), record, *sh, rows, false);
  } catch (const EDbFException&) {
    return nullptr;
  }
  auto* form = new TFormDoSchedule(nullptr, Db());
  form->SetSchedule(std::move(sh));
  ShowAsChild(form);
  form->ButtonDoScheduleClick();
  return form;
}

void TFormChSchedules::BtnShuffleClick() {
  TRefStringGrid* g = RefTblFrame1->StringGrid;
  TJson table = g->SaveToJson();
  const int count = static_cast<int>(table.size());
  if (count < 2) return;
  auto ask = [this](const QString& prompt, const QString& def) -> std::optional<QString> {
    if (OnInputQuery) return OnInputQuery("Shuffle options", prompt, def);
    bool ok = false;
    QString s = QInputDialog::getText(this, "Shuffle options", prompt, QLineEdit::Normal, def, &ok);
    if (!ok) return std::nullopt;
    return s;
  };
  std::optional<QString> first = ask("First row?", "1");
  if (!first) return;
  std::optional<QString> last = ask("Last row?", QString::number(count));
  if (!last) return;
  bool ok1 = false, ok2 = false;
  int lo = first->trimmed().toInt(&ok1) - 1;
  int hi = std::min(last->trimmed().toInt(&ok2), count) - 1;
  if (!ok1 || !ok2) {
    AppOperator().MessageBox("Shuffle options", "Error", TMsgIcon::Error);
    return;
  }
  if (!(lo < hi && lo < count - 1 && hi >= 0)) return;
  bool playlists = false, commands = false;
  if (RowsHoldPlaylist(table, lo, hi))
    playlists = AppOperator().Ask(Std(windowTitle()), "Shuffle the playlists?", TMsgIcon::Question,
                                  TMsgButtons::YesNo, TMsgAnswer::No) == TMsgAnswer::Yes;
  if (RowsHoldCommands(table, lo, hi))
    commands = AppOperator().Ask(Std(windowTitle()), "Shuffle the commands?", TMsgIcon::Question,
                                 TMsgButtons::YesNo, TMsgAnswer::No) == TMsgAnswer::Yes;
  uint32_t seed = ShuffleSeed ? ShuffleSeed
                              : static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  TShuffleResult r = ShuffleRows(table, Std(*first), Std(*last), playlists, commands, seed);
  if (!r.Error.empty()) {
    AppOperator().MessageBox("Shuffle options", r.Error, TMsgIcon::Error);
    return;
  }
  if (!r.Changed) return;
  g->LoadFromJson(r.Table);
  g->DoChange();
}
