#include "control/forms/OnLineContr.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

#include "JFrame/SharedWidgets.h"
#include "control/forms/ControlPanel.h"

namespace {
TRecordFormRegistration<TFormOnLineContr> registration("TFormOnLineContr");
}  // namespace

TFormOnLineContr::TFormOnLineContr(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "OnLineContr", "FormOnLinrContr", "New record", parent) {
  setObjectName("FormOnLineContr");
  setProperty("HelpContext", 20);
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  LabelElements = new QLabel(TabSheetRec);
  LabelElements->setObjectName("LabelElements");
  recLayout->addWidget(LabelElements);
  Button1 = new QPushButton("Edit control panel", TabSheetRec);
  Button1->setObjectName("Button1");
  recLayout->addWidget(Button1, 0, Qt::AlignLeft);
  recLayout->addStretch(1);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  JFrame1->OnRecordToComp = [this](TJFrame*, TJson& aObj, TRecordToCompType) { JFrame1RecordToComp(aObj); };
  JFrame1->OnCompToRecord = [this](TJFrame*, TJson& aObj) { JFrame1CompToRecord(aObj); };
  JFrame1->OnChange = [this](TJFrame*) { JFrame1Change(); };
  LoadFrame();
  // Records added, deleted, pasted, moved or renamed change the main window's panel menu.
  if (QMenu* menu = JFrame1->PopupMenu())
    connect(menu, &QMenu::triggered, this, [this] { JFrame1Change(); });
  if (QPushButton* save = JFrame1->BtnSave())
    connect(save, &QPushButton::clicked, this, [this] { JFrame1Change(); });
}

void TFormOnLineContr::JFrame1RecordToComp(TJson& aObj) {
  auto table = aObj.find("Table");
  ElementsTbl = table != aObj.end() ? *table : TJson();
  if (auto f = aObj.find("Form"); f != aObj.end()) FormPos = *f;
  if (auto c = aObj.find("CustColors"); c != aObj.end()) CustColors = *c;
  const size_t n = ElementsTbl.is_array() ? ElementsTbl.size() : 0;
  LabelElements->setText(QString("Elements: %1").arg(n));
}

void TFormOnLineContr::JFrame1CompToRecord(TJson& aObj) {
  aObj["Table"] = ElementsTbl.is_null() ? TJson::array() : ElementsTbl;
  if (!FormPos.is_null()) aObj["Form"] = FormPos;
  if (!CustColors.is_null()) aObj["CustColors"] = CustColors;
}

QWidget* TFormOnLineContr::Button1Click() {
  // Unsaved edits are settled first: the panel must open on the stored record and its change
  // counter, or its own save would be refused later.
  if (JFrame1->WasChanges()) {
    switch (JFrame1->AskDlg("Record \"" + JFrame1->RecordName() + "\" was changed! Save changes?",
                            TMsgIcon::Question, TMsgButtons::YesNoCancel, TMsgAnswer::Cancel)) {
      case TMsgAnswer::Yes:
        if (!JFrame1->BtnSaveClick()) return nullptr;
        break;
      case TMsgAnswer::No:
        JFrame1->BtnCancelClick();
        break;
      default:
        return nullptr;
    }
  }
  const std::string id = JFrame1->ID();
  if (id.empty()) return nullptr;
  QWidget* panel = nullptr;
  try {
    panel = new TFormControlPanel(nullptr, Db(), id, true);
  } catch (const std::exception& e) {
    JFrame1->MsgDlg(e.what(), TMsgIcon::Error, "Error");
    return nullptr;
  }
  ShowAsChild(panel);
  CloseFormWindow(this);
  return panel;
}

void TFormOnLineContr::JFrame1Change() {
  // After the frame has finished the change.
  QTimer::singleShot(0, this, [] { NotifyCollectionChanged("OnLineContr"); });
}
