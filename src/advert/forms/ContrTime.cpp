#include "advert/forms/ContrTime.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "JFrame/RefStringGrid.h"

TFormContrTime::TFormContrTime(TRG_BtnEdit* owner, QWidget* parent) : QDialog(parent), FOwner(owner) {
  setObjectName("FormContrTime");
  setWindowTitle("Select times per hour");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Begin", this), 0, 1);
  grid->addWidget(new QLabel("End", this), 0, 2);
  grid->addWidget(new QLabel("Times", this), 0, 3);
  for (int r = 0; r < TimesDialogRows; ++r) {
    const QString n = QString::number(r + 1);
    grid->addWidget(new QLabel(n + ".", this), r + 1, 0);
    auto spin = [&](const QString& name, int lo, int hi) {
      auto* s = new QSpinBox(this);
      s->setObjectName(name + n);
      s->setRange(lo, hi);
      return s;
    };
    EditStart[r] = spin("EditStart", 0, 23);
    EditStop[r] = spin("EditStop", 0, 23);
    EditTimes[r] = spin("EditTimes", static_cast<int>(TimesDialogMinTimes(r)), 99);
    grid->addWidget(EditStart[r], r + 1, 1);
    grid->addWidget(EditStop[r], r + 1, 2);
    grid->addWidget(EditTimes[r], r + 1, 3);
    connect(EditStart[r], &QSpinBox::valueChanged, this, [this, r] { EditStart1Change(r); });
    connect(EditStop[r], &QSpinBox::valueChanged, this, [this, r] { EditStop1Change(r); });
  }
  layout->addLayout(grid);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ButtonSave = new QPushButton("Save", this);
  ButtonSave->setObjectName("ButtonSave");
  ButtonCancel = new QPushButton("Cancel", this);
  ButtonCancel->setObjectName("ButtonCancel");
  buttons->addWidget(ButtonSave);
  buttons->addWidget(ButtonCancel);
  layout->addLayout(buttons);
  connect(ButtonSave, &QPushButton::clicked, this, &TFormContrTime::ButtonSaveClick);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormContrTime::ButtonCancelClick);
  FormActivate();
}

void TFormContrTime::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
}

void TFormContrTime::FormActivate() {
  if (!FOwner) return;
  bool writeBack = false;
  TTimesDialogRows rows = OpenTimesDialog(FOwner->Json(), &writeBack);
  if (writeBack) FOwner->SetJson(TJson::array());
  SetTimes(rows);
}

TTimesDialogRows TFormContrTime::GetTimes() const {
  TTimesDialogRows rows{};
  for (int r = 0; r < TimesDialogRows; ++r) {
    rows[r].Begin = EditStart[r]->value();
    rows[r].End = EditStop[r]->value();
    rows[r].Times = EditTimes[r]->value();
  }
  return rows;
}

void TFormContrTime::SetTimes(const TTimesDialogRows& rows) {
  FSetting = true;
  for (int r = 0; r < TimesDialogRows; ++r) {
    EditStart[r]->setValue(static_cast<int>(rows[r].Begin));
    EditStop[r]->setValue(static_cast<int>(rows[r].End));
    EditTimes[r]->setValue(static_cast<int>(rows[r].Times));
  }
  FSetting = false;
}

void TFormContrTime::EditStart1Change(int row) {
  if (FSetting) return;
  TTimesDialogRow r{static_cast<double>(EditStart[row]->value()),
                    static_cast<double>(EditStop[row]->value()), 0};
  TimesDialogBeginChanged(r);
  FSetting = true;
  EditStop[row]->setValue(static_cast<int>(r.End));
  FSetting = false;
}

void TFormContrTime::EditStop1Change(int row) {
  if (FSetting) return;
  TTimesDialogRow r{static_cast<double>(EditStart[row]->value()),
                    static_cast<double>(EditStop[row]->value()), 0};
  TimesDialogEndChanged(r);
  FSetting = true;
  EditStart[row]->setValue(static_cast<int>(r.Begin));
  FSetting = false;
}

void TFormContrTime::ButtonSaveClick() {
  if (FOwner) FOwner->SetJson(SaveTimesDialog(GetTimes()));
  accept();
}

void TFormContrTime::ButtonCancelClick() { reject(); }
