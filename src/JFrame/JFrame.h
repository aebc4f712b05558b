#pragma once
// The record editor frame: the left part of every editing window. It shows a collection as a
// tree of folders and records and does all record handling by itself: loading the selected
// record into the window's bound controls, noticing unsaved edits and asking before they are
// lost, creating, copying, pasting, deleting and moving records and folders, and refusing to
// overwrite a record or a tree another editor changed in the meantime (the store's change
// counters tell).
//
// A window gives the frame its page control with a folder page and a record page
// (AssignComponents), the collection (TreeView->SetCollectionsData), binds its record controls
// on LayerComps, and calls Load.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "JFrame/ComponentToJson.h"
#include "JFrame/RecTree.h"
#include "recstore/JrecClasses.h"
#include "base/Operator.h"
#include "shell/RecordToCompType.h"
#include "JFrame/FormRegistry.h"

class QAction;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QToolButton;
class QTreeWidgetItem;

class TJFrame : public QWidget, public IJFrame {
  Q_OBJECT
public:
  using TNotify = std::function<void(TJFrame* sender)>;
  using TNotifyNewRecord = std::function<void(TJFrame* sender, bool WasPaste)>;
  using TNotifySaveRecord = std::function<void(TJFrame* sender, bool& CanDoAction)>;
  using TRecordToCompEvent =
      std::function<void(TJFrame* sender, TJson& aObj, TRecordToCompType typ)>;
  using TSuperObjectEvent = std::function<void(TJFrame* sender, TJson& aObj)>;

  // Owner is the editing window; its title follows the shown record.
  explicit TJFrame(QWidget* owner);
  ~TJFrame() override;

  // Remembers the page control and its pages, hides the tabs, and puts the name edit above the
  // page control and the "Save" / "Cancel" strip below it.
  void AssignComponents(QTabWidget* pageControl, QWidget* tabSheetRec, QWidget* tabSheetTree);
  // Registers the frame with its collections, reads the tree and shows the first node.
  void Load();

  // Adds a folder, subfolder or record next to the selection (see the tree's rules); a pasted
  // record is a copy of the last copied one.
  void InsertFolderOrRecord(TobjType aObjType, bool paste);
  // Saves the shown record, or renames the selected folder. True when a record was saved or
  // had nothing to save.
  bool BtnSaveClick();
  // Drops the edits and shows the stored record again.
  void BtnCancelClick();
  // Before the window closes: asks about unsaved edits; when it may close, unregisters.
  bool FormCloseQuery();
  // For actions that need the record saved first: true only when nothing is unsaved or it was
  // saved now. Keeps the edits when the operator declines.
  bool AskChangesSaveNo();
  // Yes/No/Cancel before leaving the shown record; true when the action may go on.
  bool AskChangesSave();
  bool WasChanges();
  // Reads the bound controls into a record ("Name" from the name edit).
  TJson CompToRecord(bool DeleteID);
  // Shows a record the window computed, without saving it.
  void RecordToComp(TJson aRecord);
  bool RecordToCompIsExecuting() const { return FRecordToCompIsExecuting; }
  void TryChangeRecordsName(const std::string& NewName);
  // The records in display order, each with its "_ID"; empty after the last one.
  TJson GetFirtsRecord();
  TJson GetNextRecord();

  // The popup menu commands (and their keys).
  void AddRecordClick();
  void AddFolderClick();
  void AddSubFolderClick();
  void CopyClick();
  void PasteClick();
  void DeleteClick();
  void MoveUpClick();
  void MoveDownClick();
  // What a click on the tree does after the selection changed.
  void TreeClick();
  // Reads the tree again, keeping the selection by identifier.
  void ReloadTree();
  // Shows the selected node (the first one when none is).
  void ShowSelected(bool askSave);

  std::string RecordName() const;
  void SetRecordName(const std::string& name);
  const std::string& NewRecordName() const { return FNewRecordName; }
  void SetNewRecordName(const std::string& v) { FNewRecordName = v; }
  const std::string& FormName() const { return FFormCaption; }
  void SetFormName(const std::string& v) { FFormCaption = v; }
  bool FolderAdd() const { return FFolderAdd; }
  void SetFolderAdd(bool v);
  // The identifier of the shown record; setting it selects and shows that record.
  std::string ID() const;
  void SetID(const std::string& id);

  // IJFrame
  std::string EditorRecordID() const override { return ID(); }
  void BringEditorToFront() override;
  void SetEditorRecordID(const std::string& id) override { SetID(id); }

  // Events.
  TNotify OnChange;
  TNotifyNewRecord OnNewRecordAdded;
  TNotifySaveRecord OnSaveRecord;
  TNotifySaveRecord OnDeletionRecord;
  TSuperObjectEvent OnCompToRecord;
  TRecordToCompEvent OnRecordToComp;

  TRecTree* TreeView = nullptr;
  TLayerOfComps* LayerComps = nullptr;   // "Records": the window binds its controls here
  TLayerOfComps* LayerFolder = nullptr;  // "Folder"
  TLayerOfComps& LayerCommon() { return *FLayerCommon; }

  QMenu* PopupMenu() const { return FPopupMenu; }
  QAction* PasteMenuItem() const { return FPasteMenuItem; }
  QLineEdit* EditName() const { return FEditName; }
  QLineEdit* Edit_ID() const { return FEdit_ID; }
  QPushButton* BtnSave() const { return FBtnSave; }
  QPushButton* BtnCancel() const { return FBtnCancel; }
  QTabWidget* PageControl() const { return FPageControl; }
  QWidget* TabSheetRec() const { return FTabSheetRec; }
  QWidget* TabSheetTree() const { return FTabSheetTree; }
  // The record node whose contents are in the controls and may have unsaved edits.
  QTreeWidgetItem* LastTreeNode() const { return FLastTreeNode; }
  const TJson& OldRecord() const { return FOldRecord; }
  int64_t CurrentRecordCntr() const { return FCurrentRecordCntr; }

  // A message box captioned with the window title (or Caption when given).
  void MsgDlg(const std::string& text, TMsgIcon icon, const std::string& caption = "");
  TMsgAnswer AskDlg(const std::string& text, TMsgIcon icon, TMsgButtons buttons,
                    TMsgAnswer safeAnswer, const std::string& caption = "");

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void CreatePopupMenu();
  void LoadRecord(QTreeWidgetItem* node);
  void TreeConflict();
  // Saves the tree, reporting a failed write once, by the frame.
  bool SaveTree();
  // After a tree save that did not happen: the conflict text when another editor saved the
  // tree first, else the reason the write failed; the tree is shown as stored.
  void TreeSaveFailed();
  // The keys the window binds (sub-layers' keys with their layer's name in front) and their
  // defaults.
  static void BoundKeys(const TLayerOfComps& layer, const std::string& prefix,
                        std::vector<std::pair<std::string, const TJson*>>& out);
  // The record a save writes: Stored with the window's bound keys from Shown (the bound
  // controls read with GetCompInfo) and "Name" put in, then OnCompToRecord on the whole of
  // it; every other key stays as it was stored.
  TJson ComposeRecord(const TJson& stored, const TJson& shown);
  void ReselectPending();
  void SelectNode(QTreeWidgetItem* node);
  QTreeWidgetItem* SelectedNode() const;
  TDbCollectionItem* Records() const;
  std::string WindowCaption() const;
  // Saves the record of Node from the controls (OnSaveRecord first); false when vetoed or
  // refused. With onlyWhenChanged an unchanged record is not written.
  bool SaveRecord(QTreeWidgetItem* node, bool onlyWhenChanged);
  // Puts a record into the controls with the loading flag set.
  void FillControls(const TJson& record);

  QWidget* FOwner;
  int FRecordIdx = 0;
  int64_t FCurrentRecordCntr = 0;
  std::unique_ptr<TLayerOfComps> FLayerCommon;
  QTreeWidgetItem* FLastTreeNode = nullptr;
  std::string FFormCaption;
  QAction* FPasteMenuItem = nullptr;
  QMenu* FPopupMenu = nullptr;
  QTabWidget* FPageControl = nullptr;
  QWidget* FTabSheetRec = nullptr;
  QWidget* FTabSheetTree = nullptr;
  QWidget* FTreeViewPanel = nullptr;
  QWidget* FBtnPanel = nullptr;
  QToolButton* FBtnPanelUp = nullptr;
  QToolButton* FBtnPanelDown = nullptr;
  QLineEdit* FEdit_ID = nullptr;
  QLineEdit* FEditName = nullptr;
  QWidget* FPanelButtons = nullptr;
  QPushButton* FBtnCancel = nullptr;
  QPushButton* FBtnSave = nullptr;
  bool FFolderAdd = true;
  TJson FCopySO = TJson::object();
  TJson FOldRecord = TJson::object();
  std::string FNewRecordName = "New record";
  bool FRecordToCompIsExecuting = false;
  bool FRegistered = false;
  // Set while the frame itself changes the tree, so the selection signals it causes are not
  // taken for the operator's clicks.
  int FBusy = 0;
  std::vector<QTreeWidgetItem*> FIterNodes;
};
