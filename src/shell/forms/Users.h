#pragma once
// The users window: operators' accounts with their password and access rights. The stored
// record holds only the scrambled credential array "a0"; while a user is shown the window
// works on "Pw" and "Ar" and packs them again on saving. The last user with the right to
// manage users can be neither deleted nor saved without it.
#include "JFrame/RecordForm.h"
#include "shell/Users.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class TCheckListBox;

class TFormUsers : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormUsers(TDbFile& db, QWidget* parent = nullptr);

  QGroupBox* GroupBox1;
  QLineEdit* EditPassword;
  QCheckBox* CheckBoxShowPassword;
  QTabWidget* PageControl2;
  QWidget* TabSheetDir;
  QGroupBox* GroupBox2;
  TCheckListBox* CheckListBox1;
  QPushButton* Button1;

  void CheckBoxShowPasswordClick();
  void JFrame1CompToRecord(TJson& aObj);
  void JFrame1RecordToComp(TJson& aObj, TRecordToCompType typ);
  void JFrame1SaveRecord(bool& CanDoAction);
  void JFrame1DeletionRecord(bool& CanDoAction);
  // Creates the user "Default" with every right when there are no users yet.
  void Button1Click();

private:
  TUserList UsersInTreeOrder();
};
