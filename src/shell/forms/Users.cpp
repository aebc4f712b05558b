#include "shell/forms/Users.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "shell/Databases.h"
#include "shell/Users.h"

namespace {
TRecordFormRegistration<TFormUsers> registration("TFormUsers");
}  // namespace

TFormUsers::TFormUsers(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "Users", "Users", "New user", parent) {
  setObjectName("FormUsers");
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  GroupBox1 = new QGroupBox("Password", TabSheetRec);
  GroupBox1->setObjectName("GroupBox1");
  auto* pwLayout = new QHBoxLayout(GroupBox1);
  EditPassword = new QLineEdit(GroupBox1);
  EditPassword->setObjectName("EditPassword");
  EditPassword->setEchoMode(QLineEdit::Password);
  CheckBoxShowPassword = new QCheckBox("Show password", GroupBox1);
  CheckBoxShowPassword->setObjectName("CheckBoxShowPassword");
  pwLayout->addWidget(EditPassword, 1);
  pwLayout->addWidget(CheckBoxShowPassword);
  recLayout->addWidget(GroupBox1);

  PageControl2 = new QTabWidget(TabSheetRec);
  PageControl2->setObjectName("PageControl2");
  TabSheetDir = new QWidget;
  TabSheetDir->setObjectName("TabSheetDir");
  PageControl2->addTab(TabSheetDir, "Access rights");
  auto* dirLayout = new QVBoxLayout(TabSheetDir);
  GroupBox2 = new QGroupBox("Access rights", TabSheetDir);
  GroupBox2->setObjectName("GroupBox2");
  auto* rightsLayout = new QVBoxLayout(GroupBox2);
  CheckListBox1 = new TCheckListBox(GroupBox2);
  CheckListBox1->setObjectName("CheckListBox1");
  rightsLayout->addWidget(CheckListBox1);
  dirLayout->addWidget(GroupBox2);
  recLayout->addWidget(PageControl2, 1);

  // The default user is made from the folder page: it is for a database without users.
  Button1 = new QPushButton("Button1", TabSheetTree);
  Button1->setObjectName("Button1");
  Button1->setToolTip("Create the user \"Default\" with every right when there are no users");
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(Button1);
  buttonRow->addStretch(1);
  static_cast<QVBoxLayout*>(TabSheetTree->layout())->addLayout(buttonRow);

  connect(CheckBoxShowPassword, &QCheckBox::toggled, this,
          [this] { CheckBoxShowPasswordClick(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  JFrame1->OnCompToRecord = [this](TJFrame*, TJson& o) { JFrame1CompToRecord(o); };
  JFrame1->OnRecordToComp = [this](TJFrame*, TJson& o, TRecordToCompType t) {
    JFrame1RecordToComp(o, t);
  };
  JFrame1->OnSaveRecord = [this](TJFrame*, bool& can) { JFrame1SaveRecord(can); };
  JFrame1->OnDeletionRecord = [this](TJFrame*, bool& can) { JFrame1DeletionRecord(can); };

  JFrame1->LayerComps->AddComp("Pw", EditPassword, vt_String);
  JFrame1->LayerComps->AddComp("Ar", CheckListBox1);
  LoadFrame();
}

void TFormUsers::CheckBoxShowPasswordClick() {
  EditPassword->setEchoMode(CheckBoxShowPassword->isChecked() ? QLineEdit::Normal
                                                               : QLineEdit::Password);
}

void TFormUsers::JFrame1CompToRecord(TJson& aObj) { PackCredentials(aObj, JFrame1->ID()); }

void TFormUsers::JFrame1RecordToComp(TJson& aObj, TRecordToCompType typ) {
  UnpackCredentials(aObj, typ, true);
}

TUserList TFormUsers::UsersInTreeOrder() {
  TUserList users;
  for (TJson r = JFrame1->GetFirtsRecord(); !r.empty(); r = JFrame1->GetNextRecord())
    users.emplace_back(JsonStr(r, "_ID"), r);
  return users;
}

void TFormUsers::JFrame1SaveRecord(bool& CanDoAction) {
  TJson working = TJson::object();
  working["Ar"] = JFrame1->LayerComps->GetCompInfo()["Ar"];
  const std::string refusal = UserSaveRefusal(working, UsersInTreeOrder(), JFrame1->ID());
  if (refusal.empty()) return;
  CanDoAction = false;
  JFrame1->MsgDlg(refusal, TMsgIcon::Error, "Error");
}

void TFormUsers::JFrame1DeletionRecord(bool& CanDoAction) {
  const std::string refusal = UserDeleteRefusal(UsersInTreeOrder(), JFrame1->ID());
  if (refusal.empty()) return;
  CanDoAction = false;
  JFrame1->MsgDlg(refusal, TMsgIcon::Error, "Error");
}

void TFormUsers::Button1Click() {
  const TCollectionData& cd = JFrame1->TreeView->CollectionsData();
  if (!cd.Records || !cd.Tree) return;
  std::string id;
  try {
    id = CreateDefaultUser(*cd.Records, *cd.Tree);
  } catch (const std::exception& e) {
    JFrame1->MsgDlg(e.what(), TMsgIcon::Error, "Error");
    return;
  }
  if (id.empty()) return;
  // The tree was written around the frame: show it, so the next change here keeps the user.
  JFrame1->ReloadTree();
  JFrame1->SetID(id);
}
