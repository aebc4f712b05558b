#pragma once
// "Select commands": the dialog that edits an ordered list of commands (a JSON array of command
// objects). The channel schedule editor opens it from a row's "Commands" cell; control panels
// open it for an element's command list.
//
// Two ways to use it:
//   - static: TFormChShCommands::EditCommands(parent, list, elmt_Button) edits `list` in place
//     and tells whether the operator saved;
//   - as an object: construct it, set fonCmdsValueSaved, exec(). When the owner is a grid's
//     button editor (TRG_BtnEdit), the list comes from that editor and goes back to it.
#include <QDialog>
#include <QTreeWidget>
#include <functional>

#include "recstore/JrecClasses.h"
#include "schedule/ScheduleClasses.h"

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TBtnEdit;
class TDateTimeEdit;
class TFloatSpinEdit;
class TRG_BtnEdit;
class TRefEdit;
class TFormChShCommands;

// The "Selected commands:" tree: dropping a command on another reorders the list.
class TCmdTreeWidget : public QTreeWidget {
  Q_OBJECT
public:
  explicit TCmdTreeWidget(TFormChShCommands* form, QWidget* parent);

protected:
  void dropEvent(QDropEvent* e) override;

private:
  TFormChShCommands* FForm;
};

class TFormChShCommands : public QDialog {
  Q_OBJECT
public:
  // Owner: a TRG_BtnEdit (the list is its Json) or any widget (the list is a copy of aJson).
  // Db names the channels of channel commands; the main database when not given.
  TFormChShCommands(QWidget* Owner, const TJson& aJson, TElementType ElemType,
                    TDbFile* Db = nullptr);

  // Edits List in place (a value that is not an array starts as []); true when "Save" was
  // pressed, false when the dialog was cancelled (List is then unchanged).
  static bool EditCommands(QWidget* parent, TJson& List, TElementType ElemType,
                           TDbFile* Db = nullptr);

  // Control panels: receives a copy of the saved list.
  std::function<void(QObject* Sender, const TJson& List)> fonCmdsValueSaved;

  TElementType FElemType;
  TJson Json;  // the list as given (for owners that are not a grid editor)
  QTreeWidgetItem* PrevTreeViewSelected = nullptr;

  QTreeWidget* TreeViewExistingCmd;
  TCmdTreeWidget* TreeViewCmd;
  QPushButton* ButtonAdd;
  QPushButton* ButtonRemove;
  QPushButton* ButtonSave;
  QPushButton* ButtonCancel;
  QGroupBox* GroupBoxOptions;  // "Command's options"
  QGroupBox* GroupBoxDelay;
  TFloatSpinEdit* FloatSpinEditDelay;
  QGroupBox* GroupBoxChannel;
  TRefEdit* RefEdit1;
  QGroupBox* GroupBoxSTime;
  TDateTimeEdit* DateTimeEditSTime;
  QGroupBox* GroupBoxCust1;
  TBtnEdit* EditCust1;
  QGroupBox* GroupBoxCust2;
  TBtnEdit* EditCust2;
  QGroupBox* GroupBoxText;
  QPlainTextEdit* Memo1;

  void FormCreate();
  void FormActivate();
  void ButtonAddClick();
  void ButtonRemoveClick();
  void ButtonSaveClick();
  // Moves the selected command: onto the node right after it swaps the two, onto any other
  // node it goes in front of that node.
  void TreeViewCmdDragDrop(QTreeWidgetItem* target);
  void EditCust1BtnClick();
  void UpdateControls();

  // The selected list as it stands (what "Save" writes).
  TJson SelectedList() const;
  // The command object of a node of either tree (null for a heading).
  static TJson NodeCommand(const QTreeWidgetItem* node);
  // Whether Save was pressed.
  bool Saved() const { return FSaved; }

private:
  void SetNodeCommand(QTreeWidgetItem* node, const TJson& cmd);
  QTreeWidgetItem* AddSelectedNode(const TJson& cmd, int index = -1);
  // Writes Value under Key into the selected command's inner object.
  void WriteOption(const std::string& key, const TJson& value);
  void TreeViewCmdSelected();

  TDbFile& FDb;
  TRG_BtnEdit* FOwnerEditor = nullptr;
  bool FUpdating = false;
  bool FSaved = false;
};
