#include "advert/forms/DaysOfWeek.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "JFrame/RefStringGrid.h"

TFormDaysOfWeek::TFormDaysOfWeek(TRG_BtnEdit* owner, QWidget* parent) : QDialog(parent), FOwner(owner) {
  setObjectName("FormDaysOfWeek");
  setWindowTitle("Select days of week");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  RadioGroupDays = new QGroupBox("Days of the week", this);
  RadioGroupDays->setObjectName("RadioGroupDays");
  auto* radios = new QVBoxLayout(RadioGroupDays);
  for (int i = 0; i < 4; ++i) {
    RadioDays[i] = new QRadioButton(DaysOfWeekChoiceCaptions[i], RadioGroupDays);
    RadioDays[i]->setObjectName("RadioDays" + QString::number(i));
    radios->addWidget(RadioDays[i]);
    connect(RadioDays[i], &QRadioButton::toggled, this, [this](bool on) {
      if (on) RadioGroupDaysClick();
    });
  }
  layout->addWidget(RadioGroupDays);
  GroupBoxCustom = new QGroupBox("Custom days", this);
  GroupBoxCustom->setObjectName("GroupBoxCustom");
  auto* boxes = new QGridLayout(GroupBoxCustom);
  for (int b = 0; b < CustomDayBoxCount; ++b) {
    CheckDays[b] = new QCheckBox(QString::fromStdString(CustomDayBoxCaption(b)), GroupBoxCustom);
    CheckDays[b]->setObjectName("CheckDay" + QString::number(b));
    boxes->addWidget(CheckDays[b], b < 7 ? b : b - 7, b < 7 ? 0 : 1);
  }
  layout->addWidget(GroupBoxCustom);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ButtonSave = new QPushButton("Save", this);
  ButtonSave->setObjectName("ButtonSave");
  ButtonCancel = new QPushButton("Cancel", this);
  ButtonCancel->setObjectName("ButtonCancel");
  buttons->addWidget(ButtonSave);
  buttons->addWidget(ButtonCancel);
  layout->addLayout(buttons);
  connect(ButtonSave, &QPushButton::clicked, this, &TFormDaysOfWeek::ButtonSaveClick);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormDaysOfWeek::ButtonCancelClick);
  FormShow();
  FormActivate();
}

void TFormDaysOfWeek::showEvent(QShowEvent* e) { QDialog::showEvent(e); }

void TFormDaysOfWeek::FormShow() { RadioDays[dwAllDays]->setChecked(true); }

void TFormDaysOfWeek::FormActivate() {
  if (!FOwner) return;
  bool writeBack = false;
  int mask = DayMaskOfCell(FOwner->Json(), &writeBack);
  if (writeBack) FOwner->SetJson(mask);
  SetCustDaysOfWeek(mask);
}

void TFormDaysOfWeek::RadioGroupDaysClick() {
  GroupBoxCustom->setVisible(RadioDays[dwCustom]->isChecked());
  adjustSize();
}

int TFormDaysOfWeek::GetCustDaysOfWeek() const {
  TDaysOfWeekView view;
  for (int i = 0; i < 4; ++i)
    if (RadioDays[i]->isChecked()) view.Choice = static_cast<TDaysOfWeekChoice>(i);
  for (int b = 0; b < CustomDayBoxCount; ++b) view.Boxes[b] = CheckDays[b]->isChecked();
  return ReadDayMaskChoice(view);
}

void TFormDaysOfWeek::SetCustDaysOfWeek(int mask) {
  TDaysOfWeekView view = ShowDayMask(mask);
  for (int b = 0; b < CustomDayBoxCount; ++b) CheckDays[b]->setChecked(view.Boxes[b]);
  RadioDays[view.Choice]->setChecked(true);
  RadioGroupDaysClick();
}

void TFormDaysOfWeek::ButtonSaveClick() {
  if (FOwner) FOwner->SetJson(GetCustDaysOfWeek());
  accept();
}

void TFormDaysOfWeek::ButtonCancelClick() { reject(); }
