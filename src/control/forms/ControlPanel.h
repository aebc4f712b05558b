#pragma once
// A control panel window (TFormControlPanel): the elements of a panel record of "OnLineContr"
// in a scroll area. In run mode (the OnlineControl menu) buttons and "Send text" send the
// element's commands to its server and STB group, and players show their channels. In edit mode
// (the panel records window) the context menu adds, copies, deletes and edits elements, and
// Ctrl or Shift with the mouse or the arrow keys moves and sizes them. Either mode saves the
// layout into the record, guarded by the record's change counter.
#include <QStringList>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "JFrame/FormRegistry.h"
#include "control/ControlLayout.h"
#include "recstore/JrecClasses.h"

class QAction;
class QMenu;
class QScrollArea;
class QStatusBar;
class TFormEditControl;
class TRpcSender;

class TFormControlPanel : public QWidget, public IArrowKeyHandler {
  Q_OBJECT
public:
  // Opens panel record aID of Db. A record that cannot be read, or an element of an unknown
  // type, raises std::runtime_error (the caller shows it).
  TFormControlPanel(QWidget* Owner, TDbFile& Db, const std::string& aID, bool EditEnable);
  ~TFormControlPanel() override;

  QStatusBar* StatusBar1;
  QScrollArea* ScrollBox1;
  QWidget* ScrollArea;  // the scroll area's content: the elements' parent
  QMenu* PopupMenu1;
  QAction* Addelement1;
  QAction* Button1;
  QAction* rackBar1;
  QAction* ext1;
  QAction* Player1;
  QAction* AddHTMLedit1;
  QAction* Editelement1;
  QAction* Copyelement1;
  QAction* Deleteelement1;
  QAction* Controlpanel1;

  int64_t CurrentRecordCntr = 0;
  QWidget* ActControl = nullptr;
  TJson oldRecord;
  TJson json;
  QPoint pCursor;
  std::string id;
  std::vector<TFormEditControl*> EditForms;
  TDbFile& Db;
  bool PlayEnable = false;
  bool EditEnable = false;
  // The colour dialog's custom colours as lines "ColorA=BBGGRR".
  QStringList CustomColors;

  // The element controls in tag order.
  std::vector<QWidget*> Elements() const;
  QWidget* ElementByTag(int tag) const;

  QWidget* CreateElement(int row, bool isNew);
  QWidget* AddElement(const TJson& Value, bool isNew);
  QWidget* CreateNewElement(int tp);
  TFormEditControl* OpenEditForm(const TJson& Value, QWidget* aControl);
  TFormEditControl* FindEditForm(QWidget* aControl) const;
  void FreeEditForm(TFormEditControl* aForm);
  void UpdateElement1(QWidget* aControl);
  void UpdateFormJson();
  void UpdateTabOrders();
  bool FormArrayKeyPressed(int Key) override;
  // The arrow key with the given modifiers (the main window passes the current ones).
  bool ArrowKey(int Key, bool ctrl, bool shift);

  // The context menu at point P of the scroll area: remembers P, makes the element under it
  // the active one and enables the entries. PopupMenu1Popup also shows the menu.
  void PreparePopup(const QPoint& p);
  void PopupMenu1Popup(const QPoint& p);
  void Button1Click() { CreateNewElement(elemButton); }
  void rackBar1Click() { CreateNewElement(elemTrackBar); }
  void ext1Click() { CreateNewElement(elemText); }
  void Player1Click() { CreateNewElement(elemPlayer); }
  void AddHTMLedit1Click();
  void Copyelement1Click();
  void Deleteelement1Click();
  void Editelement1Click();
  // "Save control panels settings ": true when saved.
  bool Controlpanel1Click();
  // The end of a Ctrl-drag: the element is centred on point P of the scroll area and kept
  // inside it.
  void ControlEndDock(QWidget* aControl, const QPoint& p);
  // Runs the commands of an element (a button, or a box's "Send text").
  void BtnClick(QWidget* Sender);
  // Asks about an unsaved layout; true when the window may close.
  bool FormCloseQuery();

  // The sender of the panel's commands (tests wait on it).
  TRpcSender& Sender();
  // The caption (the record's Name).
  std::string Caption() const;
  // The widget whose geometry "Form" keeps: the MDI child's frame, or this window.
  QWidget* FrameWidget() const;

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;

private:
  void FormActivate();
  void WatchElement(QWidget* w);
  void SetActive(QWidget* w);
  std::unique_ptr<TRpcSender> FSender;
  bool FPlaced = false;
  QWidget* FDragged = nullptr;
};
