#pragma once
// A reference to one record of one of several allowed collections, shown by the record's Name.
//
// The edit itself is read-only. Its "..." button opens a picker with the folder tree of an
// allowed collection (and first a list of the collections when there are several); its "O"
// button opens the editing window of the referenced record. A record dragged out of an open
// editor's tree can be dropped onto the edit. A reference that does not resolve is shown as an
// empty, red edit unless an empty reference is acceptable (EnableEmpty).
//
// The edit binds to a record key as the object {"_ID": ..., "_CL": ...}.
#include <QDialog>
#include <QLineEdit>
#include <functional>

#include "JFrame/RecTree.h"
#include "recstore/JrecClasses.h"

class QListWidget;
class QMimeData;
class QPushButton;
class QToolButton;
class QTreeWidgetItem;
class TRefEdit;

// The picker of a reference edit: a list of the allowed collections and the folder tree of the
// chosen one, with "Select", "<< Back" and (when an empty reference is allowed) "Clear".
class TRefEditPicker : public QDialog {
  Q_OBJECT
public:
  TRefEditPicker(TRefEdit* edit, QWidget* parent);

  QWidget* Panel() const { return FPanelButtons; }
  QListWidget* ListBox() const { return FListBox; }
  TRecTree* TreeView() const { return FTreeView; }
  QPushButton* BtnSelect() const { return FBtnSelect; }
  QPushButton* BtnBack() const { return FBtnBack; }
  QPushButton* BtnClear() const { return FBtnClear; }  // nullptr without EnableEmpty
  // The collection whose tree is shown (nullptr while the list is shown).
  const TCollectionData* ShownCollection() const;

  // "Select": on the list, opens the tree of the chosen collection; on the tree, takes the
  // selected record.
  void SelectClick();
  void BackClick();
  void ClearClick();
  // Takes Node when it is a record (a folder when the edit selects folders); false otherwise.
  bool TakeNode(QTreeWidgetItem* node);

private:
  void ShowTree(int collIndex);
  void ShowList();

  TRefEdit* FEdit;
  QWidget* FPanelButtons;
  QListWidget* FListBox;
  TRecTree* FTreeView;
  QPushButton* FBtnSelect;
  QPushButton* FBtnBack;
  QPushButton* FBtnClear = nullptr;
  int FShownIndex = -1;
};

class TRefEdit : public QLineEdit {
  Q_OBJECT
public:
  explicit TRefEdit(QWidget* parent = nullptr);
  ~TRefEdit() override;

  // Allows one more collection (the window gets the value with TDbFile::SC).
  void AddCollData(const TCollectionData& data);
  const TColCollData& CollData() const { return FCollData; }
  // The allowed collection that holds the current target (empty Records: none yet).
  const TCollectionData& CurrCollData() const { return FCurrCollData; }

  const TrefID& RecordID() const { return F_ID; }
  // Makes the allowed collection named by the reference current (an unknown collection leaves
  // the current one), stores the reference, refreshes the display, raises Changed and closes
  // the picker when it is open.
  void SetRecordID(const TrefID& id);

  const QString& TreeCaption() const { return FTreeCaption; }
  void SetTreeCaption(const QString& v) { FTreeCaption = v; }
  bool EnableEmpty() const { return FEnableEmpty; }
  void SetEnableEmpty(bool v);
  // The picker shows folders only and takes a folder; the display is left to the window.
  bool FolderSelect() const { return FFolderSelect; }
  void SetFolderSelect(bool v) { FFolderSelect = v; }
  // Kept for the windows that set them; nothing reads them.
  bool TreeNeedClear() const { return FNeedClear; }
  void SetTreeNeedClear(bool v) { FNeedClear = v; }
  bool CanDrag() const { return FCanDrag; }
  void SetCanDrag(bool v) { FCanDrag = v; }

  // A drag of a reference of an allowed collection may still be refused here (false).
  std::function<bool(TRefEdit* sender, const TrefID& dragged)> OnDragOver;

  QToolButton* Button() const { return FButton; }    // "..."
  QToolButton* BtnOpen() const { return FBtnOpen; }  // "O"
  // The picker while it is open.
  TRefEditPicker* Picker() const { return FdForm; }

  // True when the reference resolves to a record of the current collection.
  bool Resolved() const { return FResolved; }
  // True when the edit is marked red (an unresolved reference that may not be empty).
  bool MarkedAsError() const { return !FResolved && !FEnableEmpty; }
  // The record name of the reference (empty when it does not resolve).
  QString RecordName() const;

  // Builds the picker as the "..." button does, without showing it. The caller shows it; it
  // deletes itself when closed.
  TRefEditPicker* CreatePicker();
  // The "..." button: builds the picker and shows it modally.
  void ButtonClick();
  // The "O" button: opens the target's editing window on the record.
  void BtnOpenClick();
  // Refreshes text, alignment, colour and the "O" button.
  void UpdateDisplay();

  // True when a drag carrying Mime may be dropped here; Ref receives the dragged reference.
  bool AcceptsDrag(const QMimeData* mime, TrefID* ref = nullptr);

signals:
  void Changed();  // OnChange

protected:
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

private:
  friend class TRefEditPicker;
  void PlaceButtons();
  void NameParts();
  void PickerClosed();

  TRefEditPicker* FdForm = nullptr;
  TrefID F_ID;
  QToolButton* FButton;
  QToolButton* FBtnOpen;
  QString FTreeCaption = "TreeCaption";
  bool FNeedClear = false;
  bool FCanDrag = false;
  bool FEnableEmpty = false;
  bool FFolderSelect = false;
  bool FResolved = false;
  TColCollData FCollData;
  TCollectionData FCurrCollData;
};

// Where a dialog of size Size is shown for Anchor: centred over the client area of Anchor's
// window but never left of or above it; at 50, 50 on the screen when Anchor has no window.
QPoint CenteredDialogPos(QWidget* anchor, const QSize& size);
