#include "JFrame/RefEdit.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMainWindow>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include "JFrame/ComponentToJson.h"
#include "JFrame/RecTree.h"
#include "JFrame/FormRegistry.h"
#include "JFrame/QtText.h"

namespace {

// A reference edit binds as the object {"_ID", "_CL"} whatever the value type. It is a line
// edit, so it goes in front of the text edits (and of the date-time edit, as it always stood).
const bool GRefEditBinding = [] {
  InsertCompClassBefore(
      "TDateTimeEdit",
      {"TRefEdit", [](QObject* o) { return qobject_cast<TRefEdit*>(o) != nullptr; },
       [](QObject* o, const TJson& v, TJsonCompVarType) {
         qobject_cast<TRefEdit*>(o)->SetRecordID(JsonToTrefID(&v));
       },
       [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
         return TrefIDToJson(qobject_cast<TRefEdit*>(o)->RecordID());
       }});
  return true;
}();
}  // namespace

QPoint CenteredDialogPos(QWidget* anchor, const QSize& size) {
  QWidget* win = anchor ? anchor->window() : nullptr;
  if (!win || win == anchor) return {50, 50};
  QWidget* client = win;
  if (auto* mw = qobject_cast<QMainWindow*>(win); mw && mw->centralWidget()) client = mw->centralWidget();
  QRect area(client->mapToGlobal(QPoint(0, 0)), client->size());
  QPoint p(area.left() + (area.width() - size.width()) / 2,
           area.top() + (area.height() - size.height()) / 2);
  return {std::max(p.x(), area.left()), std::max(p.y(), area.top())};
}

// ---------------------------------------------------------------------------------------------
// TRefEdit

TRefEdit::TRefEdit(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setAcceptDrops(true);
  FButton = new QToolButton(this);
  FButton->setText("...");
  FButton->setCursor(Qt::ArrowCursor);
  FButton->setFocusPolicy(Qt::NoFocus);
  FButton->setToolTip("Select");
  FBtnOpen = new QToolButton(this);
  FBtnOpen->setText("O");
  FBtnOpen->setCursor(Qt::ArrowCursor);
  FBtnOpen->setFocusPolicy(Qt::NoFocus);
  FBtnOpen->setToolTip("Open");
  connect(FButton, &QToolButton::clicked, this, &TRefEdit::ButtonClick);
  connect(FBtnOpen, &QToolButton::clicked, this, &TRefEdit::BtnOpenClick);
  connect(this, &QObject::objectNameChanged, this, [this] { NameParts(); });
  PlaceButtons();
  UpdateDisplay();
}

TRefEdit::~TRefEdit() {
  if (FdForm) {
    TRefEditPicker* picker = FdForm;
    FdForm = nullptr;
    picker->disconnect(this);
    delete picker;
  }
}

void TRefEdit::NameParts() {
  FButton->setObjectName(objectName() + "Btn");
  FBtnOpen->setObjectName(objectName() + "BtnOpen");
}

void TRefEdit::AddCollData(const TCollectionData& data) {
  FCollData.push_back(data);
  // A reference set before its collection was allowed finds it now.
  if (!FCurrCollData.Records && data.Records && data.Records->Name() == F_ID.Collection) {
    FCurrCollData = data;
    UpdateDisplay();
  }
}

void TRefEdit::SetEnableEmpty(bool v) {
  FEnableEmpty = v;
  UpdateDisplay();
}

void TRefEdit::SetRecordID(const TrefID& id) {
  for (const TCollectionData& d : FCollData)
    if (d.Records && d.Records->Name() == id.Collection) {
      FCurrCollData = d;
      break;
    }
  F_ID = id;
  UpdateDisplay();
  emit Changed();
  if (FdForm) FdForm->accept();
}

QString TRefEdit::RecordName() const {
  if (!FCurrCollData.Records || F_ID._ID.empty()) return {};
  std::optional<TJson> rec;
  try {
    rec = FCurrCollData.Records->GetRecord(F_ID._ID);
  } catch (const EDbReadError&) {
    return {};  // shown unresolved; the display writes nothing
  }
  if (!rec) return {};
  return Qs(JsonStr(*rec, "Name"));
}

void TRefEdit::UpdateDisplay() {
  FResolved = false;
  try {
    if (FCurrCollData.Records && !F_ID._ID.empty())
      FResolved = FCurrCollData.Records->GetRecord(F_ID._ID).has_value();
  } catch (const EDbReadError&) {
    FResolved = false;
  }
  FBtnOpen->setVisible(FResolved && !FButton->isHidden());
  PlaceButtons();
  QPalette pal = palette();
  const QColor normal = QApplication::palette(this).color(QPalette::Base);
  pal.setColor(QPalette::Base, MarkedAsError() ? QColor(Qt::red) : normal);
  setPalette(pal);
  if (FFolderSelect) return;  // the window shows what a folder reference means
  if (FResolved) {
    setText(RecordName());
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setCursorPosition(0);
  } else {
    setText(QString());
    setAlignment(Qt::AlignCenter);
  }
}

void TRefEdit::PlaceButtons() {
  const int h = std::max(12, height() - 4);
  const int w = std::min(h, 22);
  int x = width() - 2;
  int margin = 2;
  for (QToolButton* b : {FButton, FBtnOpen}) {
    if (b->isHidden()) continue;
    x -= w;
    b->setGeometry(x, (height() - h) / 2, w, h);
    margin += w;
  }
  setTextMargins(0, 0, margin, 0);
}

void TRefEdit::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  PlaceButtons();
}

void TRefEdit::changeEvent(QEvent* e) {
  QLineEdit::changeEvent(e);
  if (e->type() == QEvent::PaletteChange || e->type() == QEvent::StyleChange) PlaceButtons();
}

void TRefEdit::BtnOpenClick() {
  if (F_ID._ID.empty() || F_ID.Collection.empty()) return;
  TDbCollectionItem* coll = nullptr;
  for (const TCollectionData& d : FCollData)
    if (d.Records && d.Records->Name() == F_ID.Collection) coll = d.Records;
  if (!coll && FCurrCollData.Records) coll = FCurrCollData.Records->DbFile().FindCollection(F_ID.Collection);
  if (coll) FormShow(*coll, F_ID._ID);
}

TRefEditPicker* TRefEdit::CreatePicker() {
  if (FdForm) return FdForm;
  FdForm = new TRefEditPicker(this, window() != this ? window() : nullptr);
  connect(FdForm, &QDialog::finished, this, &TRefEdit::PickerClosed);
  FdForm->move(CenteredDialogPos(this, FdForm->size()));
  return FdForm;
}

void TRefEdit::PickerClosed() {
  if (!FdForm) return;
  FdForm->deleteLater();
  FdForm = nullptr;
}

void TRefEdit::ButtonClick() {
  TRefEditPicker* picker = CreatePicker();
  picker->exec();
}

bool TRefEdit::AcceptsDrag(const QMimeData* mime, TrefID* ref) {
  if (!mime || !mime->hasFormat(RefMimeType)) return false;
  TJson v = TJson::parse(mime->data(RefMimeType).toStdString(), nullptr, false);
  if (!v.is_object()) return false;
  TrefID dragged = JsonToTrefID(&v);
  if (dragged._ID.empty()) return false;
  bool allowed = false;
  for (const TCollectionData& d : FCollData)
    if (d.Records && d.Records->Name() == dragged.Collection) allowed = true;
  if (!allowed) return false;
  if (OnDragOver && !OnDragOver(this, dragged)) return false;
  if (ref) *ref = dragged;
  return true;
}

void TRefEdit::dragEnterEvent(QDragEnterEvent* e) {
  if (isEnabled() && AcceptsDrag(e->mimeData())) e->acceptProposedAction();
  else e->ignore();
}

void TRefEdit::dragMoveEvent(QDragMoveEvent* e) {
  if (isEnabled() && AcceptsDrag(e->mimeData())) e->acceptProposedAction();
  else e->ignore();
}

void TRefEdit::dropEvent(QDropEvent* e) {
  TrefID ref;
  if (!isEnabled() || !AcceptsDrag(e->mimeData(), &ref)) {
    e->ignore();
    return;
  }
  e->acceptProposedAction();
  SetRecordID(ref);
}

// ---------------------------------------------------------------------------------------------
// The picker

TRefEditPicker::TRefEditPicker(TRefEdit* edit, QWidget* parent) : QDialog(parent), FEdit(edit) {
  const QString name = edit->objectName() + "dForm";
  setObjectName(name);
  setWindowTitle(edit->TreeCaption());
  resize(400, 400);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->setSpacing(0);
  FListBox = new QListWidget(this);
  FListBox->setObjectName(name + "ListBox");
  FTreeView = new TRecTree(this);
  FTreeView->setObjectName(name + "TreeView");
  FTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FTreeView->SetReadOnlyTree(true);
  FTreeView->setDragDropMode(QAbstractItemView::NoDragDrop);
  FTreeView->setDragEnabled(false);
  FTreeView->setAcceptDrops(false);
  FTreeView->setHeaderHidden(true);
  FTreeView->SetShowItems(!edit->FolderSelect());
  layout->addWidget(FListBox);
  layout->addWidget(FTreeView);

  FPanelButtons = new QWidget(this);
  FPanelButtons->setObjectName(name + "Panel");
  FPanelButtons->setFixedHeight(40);
  auto* strip = new QHBoxLayout(FPanelButtons);
  strip->setContentsMargins(4, 6, 4, 6);
  strip->addStretch(1);
  FBtnSelect = new QPushButton("Select", FPanelButtons);
  FBtnSelect->setDefault(true);
  FBtnBack = new QPushButton("<< Back", FPanelButtons);
  FBtnBack->hide();
  strip->addWidget(FBtnSelect);
  strip->addWidget(FBtnBack);
  if (edit->EnableEmpty()) {
    FBtnClear = new QPushButton("Clear", FPanelButtons);
    strip->addWidget(FBtnClear);
    connect(FBtnClear, &QPushButton::clicked, this, &TRefEditPicker::ClearClick);
  }
  layout->addWidget(FPanelButtons);
  connect(FBtnSelect, &QPushButton::clicked, this, &TRefEditPicker::SelectClick);
  connect(FBtnBack, &QPushButton::clicked, this, &TRefEditPicker::BackClick);
  connect(FListBox, &QListWidget::itemDoubleClicked, this, [this] { SelectClick(); });
  connect(FTreeView, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { TakeNode(item); });

  const TColCollData& colls = edit->CollData();
  for (size_t i = 0; i < colls.size(); ++i) {
    FListBox->addItem(colls[i].Records ? Qs(colls[i].Records->GetName()) : QString());
    if (colls[i].Records && colls[i].Records->Name() == edit->RecordID().Collection)
      FListBox->setCurrentRow(static_cast<int>(i));
  }
  if (colls.size() < 2) {
    FListBox->hide();
    if (colls.size() == 1) ShowTree(0);
  } else {
    FTreeView->hide();
    // Opens straight on the tree of the current reference's collection when there is one.
    if (FListBox->currentRow() >= 0) SelectClick();
  }
}

const TCollectionData* TRefEditPicker::ShownCollection() const {
  if (FShownIndex < 0 || FShownIndex >= static_cast<int>(FEdit->CollData().size())) return nullptr;
  return &FEdit->CollData()[static_cast<size_t>(FShownIndex)];
}

void TRefEditPicker::ShowTree(int collIndex) {
  FShownIndex = collIndex;
  FTreeView->SetCollectionsData(FEdit->CollData()[static_cast<size_t>(collIndex)]);
  FTreeView->Load();
  FTreeView->expandAll();
  if (QTreeWidgetItem* node = FTreeView->FindNode(FEdit->RecordID()._ID, FEdit->FolderSelect())) {
    FTreeView->setCurrentItem(node);
    FTreeView->scrollToItem(node);
  }
  FListBox->hide();
  FTreeView->show();
  FBtnBack->setVisible(FEdit->CollData().size() >= 2);
  FTreeView->setFocus();
}

void TRefEditPicker::ShowList() {
  FShownIndex = -1;
  FTreeView->hide();
  FListBox->show();
  FBtnBack->hide();
  FListBox->setFocus();
}

void TRefEditPicker::SelectClick() {
  if (FShownIndex < 0) {
    int row = FListBox->currentRow();
    if (row >= 0 && row < static_cast<int>(FEdit->CollData().size())) ShowTree(row);
    return;
  }
  TakeNode(FTreeView->currentItem());
}

void TRefEditPicker::BackClick() { ShowList(); }

void TRefEditPicker::ClearClick() { FEdit->SetRecordID(TrefID{}); }

bool TRefEditPicker::TakeNode(QTreeWidgetItem* node) {
  const TCollectionData* coll = ShownCollection();
  if (!node || !coll || !coll->Records) return false;
  const TJson data = TreeNodeData(node);
  const bool isFolder = JsonBool(data, "IsFolder");
  if (isFolder != FEdit->FolderSelect()) return false;
  std::string id = FTreeView->GetObjectID(node);
  if (id.empty()) return false;
  FEdit->SetRecordID(TrefID{id, coll->Records->Name()});
  return true;
}
