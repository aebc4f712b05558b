#include "shell/forms/MongoDBparam.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Operator.h"

TFormDBparams::TFormDBparams(QWidget* parent) : QDialog(parent) {
  setObjectName("FormDBparams");
  setWindowTitle("mongoDB parameters");
  auto* lay = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight);
  EditIP = new QLineEdit(this);
  EditIP->setObjectName("EditIP");
  EditPort = new QLineEdit(this);
  EditPort->setObjectName("EditPort");
  EditDbName = new QLineEdit(this);
  EditDbName->setObjectName("EditDbName");
  EditIP->setMinimumWidth(220);
  form->addRow("mongoDB server IP-address", EditIP);
  form->addRow("mongoDB server port", EditPort);
  form->addRow("DB name", EditDbName);
  lay->addLayout(form);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  BtnSave = new QPushButton("Open DB", this);
  BtnSave->setObjectName("BtnSave");
  BtnSave->setDefault(true);
  connect(BtnSave, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(BtnSave);
  lay->addLayout(buttons);
  setFixedSize(sizeHint());
}

void TFormDBparams::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  BtnSave->setFocus();
}

bool TFormDBparams::Port(int& port) const {
  bool ok = false;
  int p = EditPort->text().trimmed().toInt(&ok, 10);
  if (ok) port = p;
  return ok;
}

void TFormDBparams::done(int r) {
  int port = 0;
  if (!Port(port)) {
    std::string text = "Invalid port : \"" + EditPort->text().toStdString() + "\"  . Continue?";
    TMsgAnswer a = AppOperator().Ask(windowTitle().toStdString(), text, TMsgIcon::Error,
                                     TMsgButtons::YesNo, TMsgAnswer::Yes);
    if (a == TMsgAnswer::Yes) return;  // stays open for correction
    QDialog::done(QDialog::Rejected);
    return;
  }
  QDialog::done(r);
}
