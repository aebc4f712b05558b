#include "JFrame/JFrame.h"
#include "JFrame/WriteGuard.h"

#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "recstore/mongoID.h"
#include "shell/Databases.h"
#include "shell/TreeDocument.h"
#include "JFrame/QtText.h"

namespace {
std::string Std(const QString& s) { return s.toStdString(); }

// Counts the frame busy for the lifetime of the guard.
struct TBusy {
  explicit TBusy(int& n) : FN(n) { ++FN; }
  ~TBusy() { --FN; }
  int& FN;
};

}  // namespace

void TJFrame::BoundKeys(const TLayerOfComps& layer, const std::string& prefix,
                        std::vector<std::pair<std::string, const TJson*>>& out) {
  for (int i = 0; i < layer.GetCount(); ++i) {
    const TLayerAndComps* c = layer.Child(i);
    const std::string path = prefix + c->NameOfRecord();
    if (c->IsComponent())
      out.emplace_back(path, &c->Default());
    else
      BoundKeys(*static_cast<const TLayerOfComps*>(c), path + ".", out);
  }
}

TJson TJFrame::ComposeRecord(const TJson& stored, const TJson& shown) {
  TJson out = stored.is_object() ? stored : TJson::object();
  std::vector<std::pair<std::string, const TJson*>> bound;
  BoundKeys(*LayerComps, "", bound);
  for (const auto& [path, def] : bound) {
    if (const TJson* v = shown.is_object() ? JsonAtPath(shown, path) : nullptr) {
      SetJsonAtPath(out, path, *v);
      continue;
    }
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
      out.erase(path);
    } else if (const TJson* parent = JsonAtPath(out, path.substr(0, dot));
               parent && parent->is_object()) {
      TJson copy = *parent;
      copy.erase(path.substr(dot + 1));
      SetJsonAtPath(out, path.substr(0, dot), copy);
    }
  }
  out["Name"] = RecordName();
  out.erase("_ID");
  // The window's own additions and removals (a page without a tab drops that tab's keys) are
  // made on the whole record.
  if (OnCompToRecord) OnCompToRecord(this, out);
  out.erase("_ID");
  return out;
}

TJFrame::TJFrame(QWidget* owner) : QWidget(owner), FOwner(owner) {
  setObjectName("JFrame1");
  setMinimumWidth(160);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  FTreeViewPanel = new QWidget(this);
  FTreeViewPanel->setObjectName("TreeViewPanel");
  FTreeViewPanel->setMinimumSize(80, 80);
  outer->addWidget(FTreeViewPanel);
  auto* panelLayout = new QVBoxLayout(FTreeViewPanel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->setSpacing(2);

  FBtnPanel = new QWidget(FTreeViewPanel);
  FBtnPanel->setObjectName("BtnPanel");
  FBtnPanel->setFixedHeight(25);
  auto* btnLayout = new QHBoxLayout(FBtnPanel);
  btnLayout->setContentsMargins(0, 0, 0, 0);
  btnLayout->setSpacing(2);
  FBtnPanelUp = new QToolButton(FBtnPanel);
  FBtnPanelUp->setObjectName("BtnPanelUp");
  FBtnPanelUp->setArrowType(Qt::UpArrow);
  FBtnPanelUp->setToolTip("Move up");
  FBtnPanelUp->setAccessibleName("Move up");
  FBtnPanelDown = new QToolButton(FBtnPanel);
  FBtnPanelDown->setObjectName("BtnPanelDown");
  FBtnPanelDown->setArrowType(Qt::DownArrow);
  FBtnPanelDown->setToolTip("Move down");
  FBtnPanelDown->setAccessibleName("Move down");
  btnLayout->addWidget(FBtnPanelUp);
  btnLayout->addWidget(FBtnPanelDown);
  btnLayout->addStretch(1);
  panelLayout->addWidget(FBtnPanel);

  TreeView = new TRecTree(FTreeViewPanel);
  TreeView->setObjectName("TreeView");
  // Names for screen readers and for tools that drive the windows from outside.
  TreeView->setAccessibleName("Records");
  panelLayout->addWidget(TreeView, 1);

  FEdit_ID = new QLineEdit(this);
  FEdit_ID->setObjectName("Edit_ID");
  FEdit_ID->setReadOnly(true);
  FEdit_ID->hide();

  FLayerCommon = std::make_unique<TLayerOfComps>(nullptr, stNew, nullptr, "Common");
  LayerFolder = FLayerCommon->AddLayer("Folder");
  LayerComps = FLayerCommon->AddLayer("Records");
  LayerComps->AddComp("_ID", FEdit_ID, vt_String);

  connect(FBtnPanelUp, &QToolButton::clicked, this, &TJFrame::MoveUpClick);
  connect(FBtnPanelDown, &QToolButton::clicked, this, &TJFrame::MoveDownClick);
  connect(TreeView, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (FBusy == 0) TreeClick();
  });
  connect(TreeView, &TRecTree::NodeMoved, this, [this] {
    TBusy busy(FBusy);
    if (!SaveTree()) TreeSaveFailed();
  });
  TreeView->installEventFilter(this);
  TreeView->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(TreeView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (FPopupMenu) FPopupMenu->popup(TreeView->viewport()->mapToGlobal(pos));
  });
}

TJFrame::~TJFrame() {
  if (FRegistered) {
    const TCollectionData& cd = TreeView->CollectionsData();
    if (cd.Tree) DelJFrame(*cd.Tree, this);
    if (cd.Records && cd.Records != cd.Tree) DelJFrame(*cd.Records, this);
  }
}

TDbCollectionItem* TJFrame::Records() const { return TreeView->CollectionsData().Records; }

std::string TJFrame::WindowCaption() const {
  return FOwner ? Std(FOwner->windowTitle()) : FFormCaption;
}

void TJFrame::MsgDlg(const std::string& text, TMsgIcon icon, const std::string& caption) {
  AppOperator().MessageBox(caption.empty() ? WindowCaption() : caption, text, icon);
}

TMsgAnswer TJFrame::AskDlg(const std::string& text, TMsgIcon icon, TMsgButtons buttons,
                           TMsgAnswer safeAnswer, const std::string& caption) {
  return AppOperator().Ask(caption.empty() ? WindowCaption() : caption, text, icon, buttons,
                           safeAnswer);
}

void TJFrame::AssignComponents(QTabWidget* pageControl, QWidget* tabSheetRec,
                               QWidget* tabSheetTree) {
  FPageControl = pageControl;
  FTabSheetRec = tabSheetRec;
  FTabSheetTree = tabSheetTree;
  pageControl->tabBar()->hide();
  pageControl->setDocumentMode(true);
  QWidget* host = pageControl->parentWidget();
  auto* layout = qobject_cast<QBoxLayout*>(host->layout());
  if (!layout) {
    layout = new QVBoxLayout(host);
    layout->addWidget(pageControl);
  }
  FEditName = new QLineEdit(host);
  FEditName->setObjectName("EditName");
  FEditName->setAccessibleName("Name");
  FEditName->setAlignment(Qt::AlignCenter);
  QFont bold = FEditName->font();
  bold.setBold(true);
  FEditName->setFont(bold);
  FEditName->setReadOnly(true);
  layout->insertWidget(0, FEditName);

  FPanelButtons = new QWidget(host);
  FPanelButtons->setObjectName("PanelButtons");
  FPanelButtons->setFixedHeight(40);
  auto* buttons = new QHBoxLayout(FPanelButtons);
  buttons->setContentsMargins(4, 4, 4, 4);
  buttons->addStretch(1);
  FBtnSave = new QPushButton("Save", FPanelButtons);
  FBtnSave->setObjectName("BtnSave");
  FBtnCancel = new QPushButton("Cancel", FPanelButtons);
  FBtnCancel->setObjectName("BtnCancel");
  buttons->addWidget(FBtnSave);
  buttons->addWidget(FBtnCancel);
  layout->addWidget(FPanelButtons);
  connect(FBtnSave, &QPushButton::clicked, this, [this] { BtnSaveClick(); });
  connect(FBtnCancel, &QPushButton::clicked, this, &TJFrame::BtnCancelClick);
}

void TJFrame::CreatePopupMenu() {
  FPopupMenu = new QMenu(this);
  FPopupMenu->setObjectName("PopupMenu");
  FPopupMenu->setAccessibleName("Records menu");
  auto add = [this](const char* name, const QString& text, const QKeySequence& key,
                    void (TJFrame::*slot)()) {
    QAction* a = FPopupMenu->addAction(text);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  add("MenuItemAddR", "Add record", QKeySequence(Qt::Key_Insert), &TJFrame::AddRecordClick);
  if (FFolderAdd) {
    add("MenuItemAddF", "Add folder", QKeySequence(), &TJFrame::AddFolderClick);
    add("MenuItemAddSF", "Add subfolder", QKeySequence(), &TJFrame::AddSubFolderClick);
  }
  add("MenuItemCopy", "Copy", QKeySequence(Qt::CTRL | Qt::Key_Insert), &TJFrame::CopyClick);
  FPasteMenuItem =
      add("MenuItemPaste", "Paste", QKeySequence(Qt::SHIFT | Qt::Key_Insert), &TJFrame::PasteClick);
  FPasteMenuItem->setEnabled(false);
  add("MenuItemDel", "Delete", QKeySequence(Qt::Key_Delete), &TJFrame::DeleteClick);
}

void TJFrame::SetFolderAdd(bool v) {
  FFolderAdd = v;
  if (!FPopupMenu) return;
  for (QAction* a : FPopupMenu->actions())
    if (a->objectName() == "MenuItemAddF" || a->objectName() == "MenuItemAddSF")
      a->setVisible(v);
}

void TJFrame::Load() {
  if (!FPopupMenu) CreatePopupMenu();
  const TCollectionData& cd = TreeView->CollectionsData();
  if (!FRegistered) {
    if (cd.Tree) AddJFrame(*cd.Tree, this);
    if (cd.Records && cd.Records != cd.Tree) AddJFrame(*cd.Records, this);
    FRegistered = true;
  }
  {
    TBusy busy(FBusy);
    FLastTreeNode = nullptr;
    TreeView->Load();
    TreeView->SetImages();
  }
  ShowSelected(false);
}

QTreeWidgetItem* TJFrame::SelectedNode() const {
  QList<QTreeWidgetItem*> sel = TreeView->selectedItems();
  return sel.isEmpty() ? nullptr : sel.first();
}

void TJFrame::SelectNode(QTreeWidgetItem* node) {
  TBusy busy(FBusy);
  for (QTreeWidgetItem* p = node ? node->parent() : nullptr; p; p = p->parent())
    p->setExpanded(true);
  TreeView->clearSelection();
  if (node) {
    TreeView->setCurrentItem(node);
    node->setSelected(true);
    TreeView->scrollToItem(node);
  }
}

std::string TJFrame::RecordName() const { return FEditName ? Std(FEditName->text()) : ""; }

void TJFrame::SetRecordName(const std::string& name) {
  if (FEditName) {
    FEditName->setText(Qs(name));
    FEditName->setReadOnly(false);
  }
  if (FOwner) FOwner->setWindowTitle(Qs(FFormCaption + " - " + name));
}

std::string TJFrame::ID() const { return Std(FEdit_ID->text()); }

void TJFrame::SetID(const std::string& id) {
  QTreeWidgetItem* node = TreeView->FindNode(id);
  if (!node) return;
  SelectNode(node);
  ShowSelected(true);
}

void TJFrame::BringEditorToFront() {
  QWidget* w = FOwner ? FOwner : window();
  if (auto* child = qobject_cast<QMdiSubWindow*>(w->parentWidget())) {
    child->showNormal();
    child->raise();
    if (QMdiArea* area = child->mdiArea()) area->setActiveSubWindow(child);
    return;
  }
  w->show();
  w->raise();
  w->activateWindow();
}

void TJFrame::FillControls(const TJson& record) {
  FRecordToCompIsExecuting = true;
  try {
    LayerComps->SetCompInfo(record);
  } catch (...) {
    FRecordToCompIsExecuting = false;
    throw;
  }
  FRecordToCompIsExecuting = false;
}

TJson TJFrame::CompToRecord(bool DeleteID) {
  TJson rec = LayerComps->GetCompInfo();
  if (!rec.is_object()) rec = TJson::object();
  rec["Name"] = RecordName();
  if (DeleteID) rec.erase("_ID");
  if (OnCompToRecord) OnCompToRecord(this, rec);
  return rec;
}

void TJFrame::RecordToComp(TJson aRecord) {
  if (!aRecord.is_object()) aRecord = TJson::object();
  aRecord["_ID"] = ID();
  SetRecordName(JsonStr(aRecord, "Name"));
  FillControls(aRecord);
}

void TJFrame::TryChangeRecordsName(const std::string& NewName) {
  if (RecordName() == FNewRecordName) SetRecordName(NewName);
}

bool TJFrame::WasChanges() {
  if (!FLastTreeNode) return false;
  try {
    // What the window shows against what the record holds, key by key; a key the record lacks
    // holds what its control shows for it, and keys the window does not show are not looked at.
    const TJson shown = LayerComps->GetCompInfo();
    // Only keys the window stores count: a key its OnCompToRecord takes out is not filled in.
    const TJson stored = CompToRecord(true);
    TJson base = FOldRecord.is_object() ? FOldRecord : TJson::object();
    std::vector<std::pair<std::string, const TJson*>> bound;
    BoundKeys(*LayerComps, "", bound);
    for (const auto& [path, def] : bound)
      if (!JsonAtPath(base, path) && JsonAtPath(stored, path)) SetJsonAtPath(base, path, *def);
    if (!base.contains("Name")) base["Name"] = "";
    base.erase("_ID");
    return !JsonEqual(ComposeRecord(base, shown), base);
  } catch (const std::exception&) {
    return true;  // a control that cannot be read is an edit to look at
  }
}

void TJFrame::ReselectPending() {
  if (FLastTreeNode) SelectNode(FLastTreeNode);
}

bool TJFrame::SaveRecord(QTreeWidgetItem* node, bool onlyWhenChanged) {
  bool can = true;
  if (OnSaveRecord) OnSaveRecord(this, can);
  if (!can) return false;
  const std::string name = RecordName();
  TJson rec;
  try {
    // The window's keys go into the stored record; keys it does not show stay as they are.
    rec = ComposeRecord(FOldRecord, LayerComps->GetCompInfo());
  } catch (const std::exception& e) {
    MsgDlg("Record \"" + name + "\" can not be saved: " + e.what(), TMsgIcon::Error);
    return false;
  }
  // A record whose stored state is not known (FLastTreeNode empty) is not taken for unchanged.
  if (onlyWhenChanged && FLastTreeNode && !WasChanges()) return true;
  const std::string id = TreeView->GetObjectID(node);
  bool saved = false;
  {
    TFrameWrites writes(Records());
    saved = Records() && Records()->UpdateRecord(id, rec, FCurrentRecordCntr);
  }
  if (!saved) {
    // A write that failed keeps the edits on screen, unsaved; the store is as it was, so the
    // same Save succeeds once the cause is gone.
    const TWriteFailureText msg = WriteFailureText(name, "saved", WriteFailure(Records()));
    MsgDlg(msg.Text, msg.Icon);
    return false;
  }
  FOldRecord = rec;
  node->setText(0, Qs(JsonStr(rec, "Name")));
  return true;
}

bool TJFrame::AskChangesSave() {
  if (!FLastTreeNode) return true;
  if (!WasChanges()) {
    FLastTreeNode = nullptr;
    return true;
  }
  const TMsgAnswer answer =
      AskDlg("Record \"" + RecordName() + "\" was changed! Save changes?", TMsgIcon::Question,
             TMsgButtons::YesNoCancel, TMsgAnswer::Cancel);
  if (answer == TMsgAnswer::No) {
    FLastTreeNode = nullptr;
    return true;
  }
  if (answer == TMsgAnswer::Yes && SaveRecord(FLastTreeNode, false)) {
    FLastTreeNode = nullptr;
    return true;
  }
  // Cancelled, vetoed or refused: the record with its edits stays selected.
  ReselectPending();
  return false;
}

bool TJFrame::AskChangesSaveNo() {
  if (!FLastTreeNode) return false;
  if (!WasChanges()) return true;
  const TMsgAnswer answer =
      AskDlg("Record \"" + RecordName() + "\" was changed! Save changes?", TMsgIcon::Question,
             TMsgButtons::YesNo, TMsgAnswer::No);
  if (answer != TMsgAnswer::Yes) return false;
  return SaveRecord(FLastTreeNode, false);
}

void TJFrame::LoadRecord(QTreeWidgetItem* node) {
  FLastTreeNode = node;
  if (FPageControl && FTabSheetRec) FPageControl->setCurrentWidget(FTabSheetRec);
  const std::string id = TreeView->GetObjectID(node);
  int64_t cntr = 0;
  std::optional<TJson> stored;
  try {
    if (Records() && !id.empty()) stored = Records()->GetRecord(id, cntr, true);
  } catch (const EDbReadError& e) {
    // Not known what is stored: show nothing to edit, and let no save write over the record
    // (no counter matches -1).
    FLastTreeNode = nullptr;
    FCurrentRecordCntr = -1;
    FOldRecord = TJson::object();
    MsgDlg("Record \"" + node->text(0).toStdString() + "\" can not be read: " + e.what(),
           TMsgIcon::Error, "Error");
    return;
  }
  FCurrentRecordCntr = stored ? cntr : 0;
  TJson rec = stored && stored->is_object() ? *stored : TJson::object();
  SetRecordName(JsonStr(rec, "Name"));
  FOldRecord = rec;
  node->setText(0, FEditName ? FEditName->text() : Qs(JsonStr(rec, "Name")));
  rec["_ID"] = id;
  // A record the window cannot show whole (a malformed value written by another program) is
  // shown as far as it goes and reported with the fields at fault; the window stays usable.
  // What the controls show becomes the snapshot, so leaving the record does not ask to save a
  // repair the operator never made; "Save" stores it when wanted.
  std::vector<std::string> failures;
  try {
    if (OnRecordToComp) OnRecordToComp(this, rec, rtcLoad);
    FRecordToCompIsExecuting = true;
    failures = LayerComps->SetCompInfoReporting(rec);
  } catch (const std::exception& e) {
    failures.push_back(e.what());
  }
  FRecordToCompIsExecuting = false;
  if (failures.empty()) return;
  std::string text;
  for (const auto& f : failures) text += (text.empty() ? "" : "; ") + f;
  MsgDlg("Record \"" + JsonStr(rec, "Name") + "\" (" + (Records() ? Records()->Name() : "") +
             " " + id + ") can not be shown completely: " + text,
         TMsgIcon::Error);
  try {
    FOldRecord = ComposeRecord(FOldRecord, LayerComps->GetCompInfo());
  } catch (const std::exception&) {
  }
}

void TJFrame::ShowSelected(bool askSave) {
  QTreeWidgetItem* last = FLastTreeNode;
  QTreeWidgetItem* sel = SelectedNode();
  if (!sel) {
    if (TreeView->topLevelItemCount() == 0) {
      if (FEditName) {
        FEditName->clear();
        FEditName->setReadOnly(true);
      }
      if (FPageControl && FTabSheetTree) FPageControl->setCurrentWidget(FTabSheetTree);
      return;
    }
    sel = TreeView->topLevelItem(0);
    SelectNode(sel);
  }
  if (askSave && !AskChangesSave()) return;
  if (TRecTree::NodIsFolder(sel)) {
    if (FPageControl && FTabSheetTree) FPageControl->setCurrentWidget(FTabSheetTree);
    SetRecordName(Std(sel->text(0)));
    FEdit_ID->clear();
    return;
  }
  LoadRecord(sel);
  if (!last || sel != last)
    if (OnChange) OnChange(this);
}

void TJFrame::TreeClick() {
  TBusy busy(FBusy);
  if (TreeView->Changed())
    ReloadTree();
  else
    ShowSelected(true);
}

void TJFrame::ReloadTree() {
  TBusy busy(FBusy);
  try {
    QTreeWidgetItem* sel = SelectedNode();
    const std::string selectedID = sel ? TreeView->GetObjectID(sel) : "";
    const bool selectedWasPending = sel && sel == FLastTreeNode;
    const std::string pendingID = FLastTreeNode ? TreeView->GetObjectID(FLastTreeNode) : "";
    TreeView->Load();
    TreeView->SetImages();
    FLastTreeNode = pendingID.empty() ? nullptr : TreeView->FindNode(pendingID);
    QTreeWidgetItem* again = TreeView->FindNode(selectedID, true);
    SelectNode(again);
    // The record being edited stays as it is, edits and all.
    if (again && selectedWasPending && again == FLastTreeNode) return;
    ShowSelected(true);
  } catch (const std::exception&) {
    // The tree is shown as far as it could be read; the operator tries again.
  }
}

bool TJFrame::SaveTree() {
  TFrameWrites writes(TreeView->CollectionsData().Tree);
  return TreeView->SaveTree();
}

void TJFrame::TreeSaveFailed() {
  const std::string why = WriteFailure(TreeView->CollectionsData().Tree);
  if (why.empty()) {
    TreeConflict();
    return;
  }
  // Nothing was stored: the tree is shown as it is stored.
  MsgDlg("The tree of records can not be saved: " + why, TMsgIcon::Error);
  ReloadTree();
}

void TJFrame::TreeConflict() {
  MsgDlg("Tree of records was updated, as it was changed by other user. Operation isn't "
         "executed. Try again!",
         TMsgIcon::Information);
  ReloadTree();
}

bool TJFrame::BtnSaveClick() {
  TBusy busy(FBusy);
  QTreeWidgetItem* sel = SelectedNode();
  if (!sel) return false;
  if (TRecTree::NodIsFolder(sel)) {
    sel->setText(0, FEditName ? FEditName->text() : sel->text(0));
    if (!SaveTree()) {
      TreeSaveFailed();
      return false;
    }
    ShowSelected(true);
    return true;
  }
  if (!SaveRecord(sel, true)) return false;
  ShowSelected(true);
  return true;
}

void TJFrame::BtnCancelClick() {
  TBusy busy(FBusy);
  FLastTreeNode = nullptr;
  ShowSelected(false);
}

void TJFrame::InsertFolderOrRecord(TobjType aObjType, bool paste) {
  TBusy busy(FBusy);
  if (aObjType == objRecord) {
    if (paste && FCopySO.empty()) return;
    TJson rec = paste ? FCopySO : TJson::object();
    std::string name = paste ? JsonStr(FCopySO, "Name") + "-Copy" : FNewRecordName;
    if (OnRecordToComp) OnRecordToComp(this, rec, paste ? rtcPaste : rtcNew);
    FillControls(rec);
    const std::string id = NewObjectID();
    FEdit_ID->setText(Qs(id));
    // The new node is selected by the tree.
    TreeView->InsertFolderOrRecord(objRecord, TJson{{"_ID", id}}, Qs(name));
    SetRecordName(name);
    if (!SaveTree()) {
      TreeSaveFailed();
      return;
    }
    TJson record;
    try {
      // A pasted record keeps the keys of the copied one that the window does not show.
      record = ComposeRecord(paste ? FCopySO : TJson::object(), LayerComps->GetCompInfo());
    } catch (const std::exception& e) {
      record = TJson{{"Name", name}};
      MsgDlg(e.what(), TMsgIcon::Error);
    }
    FCurrentRecordCntr = 0;
    FOldRecord = record;
    bool created = true;
    if (Records()) {
      TFrameWrites writes(Records());
      created = Records()->NewRecord(id, record, FCurrentRecordCntr);
    }
    if (!created) {
      // No record, so no entry for it either: the tree goes back to what it was.
      const std::string why = WriteFailure(Records());
      FLastTreeNode = nullptr;
      if (QTreeWidgetItem* added = TreeView->FindNode(id)) delete added;
      SaveTree();
      MsgDlg("Record \"" + name + "\" can not be saved" + (why.empty() ? "" : ": " + why),
             TMsgIcon::Error);
      ReloadTree();
      return;
    }
    ShowSelected(true);
    return;
  }
  LayerFolder->SetCompInfo(TJson::object());
  TreeView->InsertFolderOrRecord(aObjType, TJson{{"_ID", NewObjectID()}, {"IsFolder", true}},
                                 "New folder");
  if (!SaveTree()) {
    TreeSaveFailed();
    return;
  }
  ShowSelected(true);
}

void TJFrame::AddRecordClick() {
  if (AskChangesSave()) InsertFolderOrRecord(objRecord, false);
  if (OnNewRecordAdded) OnNewRecordAdded(this, false);
}

void TJFrame::AddFolderClick() {
  if (AskChangesSave()) InsertFolderOrRecord(objFolder, false);
}

void TJFrame::AddSubFolderClick() {
  if (AskChangesSave()) InsertFolderOrRecord(objSubFolder, false);
}

void TJFrame::CopyClick() {
  QTreeWidgetItem* sel = SelectedNode();
  if (!sel) return;
  if (TRecTree::NodIsFolder(sel)) {
    MsgDlg("It is impossible to copy the folder!", TMsgIcon::Warning, "Warning");
    return;
  }
  // The record stays shown, so it stays the one being edited: an edit made before or after
  // the copy is asked about when the operator leaves it.
  if (WasChanges()) {
    const TMsgAnswer answer =
        AskDlg("Record \"" + RecordName() + "\" was changed! Save changes?", TMsgIcon::Question,
               TMsgButtons::YesNoCancel, TMsgAnswer::Cancel);
    if (answer == TMsgAnswer::Cancel) return;
    if (answer == TMsgAnswer::Yes && !SaveRecord(FLastTreeNode, false)) return;
  }
  try {
    FCopySO = ComposeRecord(FOldRecord, LayerComps->GetCompInfo());
  } catch (const std::exception& e) {
    MsgDlg(e.what(), TMsgIcon::Error);
    return;
  }
  if (FPasteMenuItem) FPasteMenuItem->setEnabled(true);
}

void TJFrame::PasteClick() {
  if (FCopySO.empty()) return;
  if (!AskChangesSave()) return;
  InsertFolderOrRecord(objRecord, true);
  if (OnNewRecordAdded) OnNewRecordAdded(this, true);
}

void TJFrame::DeleteClick() {
  TBusy busy(FBusy);
  QTreeWidgetItem* sel = SelectedNode();
  if (!sel) return;
  const std::string shown = FEditName ? Std(FEditName->text()) : Std(sel->text(0));
  if (AskDlg("Delete \"" + shown + "\"?", TMsgIcon::Warning, TMsgButtons::YesNo, TMsgAnswer::No,
             "Warning") != TMsgAnswer::Yes)
    return;
  if (TRecTree::NodIsFolder(sel)) {
    if (sel->childCount() > 0) {
      MsgDlg("Can't delete. The folder is not empty!", TMsgIcon::Warning, "Warning");
      return;
    }
    delete sel;
    FLastTreeNode = nullptr;
    if (!SaveTree()) {
      TreeSaveFailed();
      return;
    }
    ShowSelected(false);
    return;
  }
  bool can = true;
  if (OnDeletionRecord) OnDeletionRecord(this, can);
  if (!can) return;
  const std::string id = TreeView->GetObjectID(sel);
  bool deleted = false;
  {
    TFrameWrites writes(Records());
    deleted = Records() && Records()->DelRecord(id, FCurrentRecordCntr);
  }
  if (!deleted) {
    const TWriteFailureText msg = WriteFailureText(shown, "deleted", WriteFailure(Records()));
    MsgDlg(msg.Text, msg.Icon);
    ShowSelected(false);
    return;
  }
  FLastTreeNode = nullptr;
  delete sel;
  // The record is gone; its tree entry goes too, even when another editor saved the tree in
  // the meantime (then the entry is taken out of the fresh tree).
  // The entry is taken out of the stored document itself: shown again, the entry of a record
  // that is gone would only bring a "not found" warning and stay stored.
  for (int attempt = 1; !SaveTree() && attempt < 6; ++attempt) {
    TJson doc = TreeView->ReadTreeDocument();
    const bool found = RemoveTreeEntry(doc, id);
    TreeView->RecordToTree(doc);
    if (!found) break;
  }
  TreeView->SetImages();
  ShowSelected(false);
}

void TJFrame::MoveUpClick() {
  TBusy busy(FBusy);
  QTreeWidgetItem* sel = SelectedNode();
  if (!TreeView->MoveNodeUp(sel)) return;
  SelectNode(sel);
  if (!SaveTree()) TreeSaveFailed();
}

void TJFrame::MoveDownClick() {
  TBusy busy(FBusy);
  QTreeWidgetItem* sel = SelectedNode();
  if (!TreeView->MoveNodeDown(sel)) return;
  SelectNode(sel);
  if (!SaveTree()) TreeSaveFailed();
}

bool TJFrame::FormCloseQuery() {
  if (!AskChangesSave()) return false;
  if (FRegistered) {
    const TCollectionData& cd = TreeView->CollectionsData();
    if (cd.Tree) DelJFrame(*cd.Tree, this);
    if (cd.Records && cd.Records != cd.Tree) DelJFrame(*cd.Records, this);
    FRegistered = false;
  }
  return true;
}

TJson TJFrame::GetFirtsRecord() {
  FIterNodes.clear();
  for (QTreeWidgetItem* node : TreeView->AllNodes())
    if (!TRecTree::NodIsFolder(node)) FIterNodes.push_back(node);
  FRecordIdx = 0;
  return GetNextRecord();
}

TJson TJFrame::GetNextRecord() {
  if (FRecordIdx >= static_cast<int>(FIterNodes.size())) return TJson::object();
  const std::string id = TreeView->GetObjectID(FIterNodes[static_cast<size_t>(FRecordIdx++)]);
  std::optional<TJson> rec = Records() ? Records()->GetRecord(id) : std::nullopt;
  TJson out = rec && rec->is_object() ? *rec : TJson::object();
  out["_ID"] = id;
  return out;
}

bool TJFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched != TreeView || event->type() != QEvent::KeyPress)
    return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  QTreeWidgetItem* cur = SelectedNode();
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (cur && cur->childCount() > 0) cur->setExpanded(!cur->isExpanded());
      return true;
    case Qt::Key_Down:
    case Qt::Key_Up: {
      if (mods != Qt::NoModifier) return false;
      QTreeWidgetItem* next = nullptr;
      if (key->key() == Qt::Key_Down) {
        next = cur ? TreeView->itemBelow(cur) : TreeView->topLevelItem(0);
      } else if (cur) {
        next = TreeView->itemAbove(cur);
      } else {
        // The last visible node.
        QTreeWidgetItem* n = TreeView->topLevelItem(TreeView->topLevelItemCount() - 1);
        while (n && n->isExpanded() && n->childCount() > 0) n = n->child(n->childCount() - 1);
        next = n;
      }
      if (next) {
        SelectNode(next);
        TreeClick();
      }
      return true;
    }
    case Qt::Key_Delete:
      if (mods != Qt::NoModifier) return false;
      DeleteClick();
      return true;
    case Qt::Key_Insert:
      if (mods == Qt::ShiftModifier)
        PasteClick();
      else if (mods == Qt::ControlModifier)
        CopyClick();
      else if (mods == Qt::NoModifier)
        AddRecordClick();
      else
        return false;
      return true;
    case Qt::Key_V:
      if (mods != Qt::ControlModifier) return false;
      PasteClick();
      return true;
    case Qt::Key_C:
      if (mods != Qt::ControlModifier) return false;
      CopyClick();
      return true;
    default:
      return false;
  }
}
