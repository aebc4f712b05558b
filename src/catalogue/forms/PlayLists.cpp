#include "catalogue/forms/PlayLists.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "JFrame/FloatSpin.h"
#include "JFrame/RefStringGrid.h"
#include "catalogue/PlayLists.h"

namespace {
TRecordFormRegistration<TFormPlayLists> registration("TFormPlayLists");
}  // namespace

TFormPlayLists::TFormPlayLists(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "PlayLists", "Playlists", "New record", parent) {
  setObjectName("FormPlayLists");
  setProperty("HelpContext", 16);
  auto* recLayout = new QVBoxLayout(TabSheetRec);

  auto* top = new QHBoxLayout;
  auto* label = new QLabel("The number of repetitions", TabSheetRec);
  FloatSpinEditNRepeat = new TFloatSpinEdit(TabSheetRec);
  FloatSpinEditNRepeat->setObjectName("FloatSpinEditNRepeat");
  FloatSpinEditNRepeat->SetMinValue(1);
  FloatSpinEditNRepeat->SetMaxValue(999);
  FloatSpinEditNRepeat->SetIncrement(1);
  FloatSpinEditNRepeat->SetPrecision(0);
  FloatSpinEditNRepeat->SetDefValue(1);
  FloatSpinEditNRepeat->SetValue(1);
  FloatSpinEditNRepeat->setFixedWidth(90);
  top->addWidget(label);
  top->addWidget(FloatSpinEditNRepeat);
  top->addStretch(1);
  LabelPlayListDurations = new QLabel(TabSheetRec);
  LabelPlayListDurations->setObjectName("LabelPlayListDurations");
  QFont bold = LabelPlayListDurations->font();
  bold.setBold(true);
  LabelPlayListDurations->setFont(bold);
  top->addWidget(LabelPlayListDurations);
  recLayout->addLayout(top);

  RefTblFrame1 = new TRefTblFrame(TabSheetRec);
  RefTblFrame1->setObjectName("RefTblFrame1");
  recLayout->addWidget(RefTblFrame1, 1);
  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  grid->SetColCount(4);
  grid->Columns()[1].SetCaption("Film or PlayList");
  grid->Columns()[1].SetEditing(true);
  grid->Columns()[2].SetCaption("Durations");
  grid->Columns()[3].SetCaption("Summary");
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrame1StringGridLoaded(g); };
  grid->Loaded();

  JFrame1->OnChange = [this](TJFrame*) { JFrame1Change(); };
  connect(grid, &TRefStringGrid::Changed, this, [this] { JFrame1Change(); });
  // The frame also reloads the shown record without reporting a change (after saving, on
  // Cancel, when the same record is selected again); the grid's rows then come back without
  // their figures. Any change of the rows or the items refreshes them once the loading is
  // over.
  auto later = [this] {
    if (FRefreshPending) return;
    FRefreshPending = true;
    QTimer::singleShot(0, this, [this] {
      FRefreshPending = false;
      JFrame1Change();
    });
  };
  QAbstractItemModel* model = grid->model();
  connect(model, &QAbstractItemModel::rowsInserted, this, later);
  connect(model, &QAbstractItemModel::rowsRemoved, this, later);
  connect(model, &QAbstractItemModel::dataChanged, this,
          [later, grid](const QModelIndex& a, const QModelIndex& b) {
            const int itemCol = 1 - grid->FixedColCount();
            if (a.column() <= itemCol && b.column() >= itemCol) later();
          });
  connect(FloatSpinEditNRepeat, &QLineEdit::textChanged, this, [this] { JFrame1Change(); });

  JFrame1->LayerComps->AddComp("Table", grid);
  JFrame1->LayerComps->AddComp("Repeat", FloatSpinEditNRepeat, vt_Integer);
  LoadFrame();
  JFrame1Change();
}

void TFormPlayLists::RefTblFrame1StringGridLoaded(TRefStringGrid* grid) {
  TRG_RefEdit* edit = RefColumn(grid, 1, "Films", "Select film or playlist");
  TCollectionData cd;
  Db().SC("PlayLists", "Tree", cd);
  edit->AddCollData(cd);
}

void TFormPlayLists::JFrame1Change() {
  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  TJson table = TJson::array();
  for (int r = grid->FixedRowCount(); r < grid->RowCount(); ++r) {
    TCellProperties* p = grid->CellProp(1, r);
    TJson ref = TJson::object();
    if (p) ref = TJson{{"_ID", p->RecordID()._ID}, {"_CL", p->RecordID().Collection}};
    table.push_back(TJson::array({ref}));
  }
  int64_t repeat = std::llround(FloatSpinEditNRepeat->Value());
  TPlayListFigures f = PlayListFigures(Db(), table, repeat);
  grid->BeginUpdate();
  for (size_t i = 0; i < f.Durations.size(); ++i) {
    int r = grid->FixedRowCount() + static_cast<int>(i);
    grid->SetCells(2, r, QString::fromStdString(f.Durations[i]));
    grid->SetCells(3, r, QString::fromStdString(f.Summaries[i]));
    // A film whose length is missing or unreadable is marked in its row.
    if (TCellProperties* p = grid->CellProp(2, r))
      p->SetColor(f.Durations[i] == "-" ? QColor(Qt::red) : QColor());
  }
  grid->EndUpdate();
  LabelPlayListDurations->setText(QString::fromStdString(f.Label));
}
