#pragma once
// "Select days of week": the day mask of a contract row's "Days of week" cell. Opened by the
// cell's button; "Save" writes the mask back into the cell.
#include <QDialog>

#include "advert/Contracts.h"

class QCheckBox;
class QGroupBox;
class QPushButton;
class QRadioButton;
class TRG_BtnEdit;

class TFormDaysOfWeek : public QDialog {
  Q_OBJECT
public:
  explicit TFormDaysOfWeek(TRG_BtnEdit* owner, QWidget* parent = nullptr);

  QGroupBox* RadioGroupDays;  // "Days of the week"
  QRadioButton* RadioDays[4];  // "All days", "Weekends and holidays", "Workdays", "Custom"
  QGroupBox* GroupBoxCustom;  // "Custom days", visible only for "Custom"
  QCheckBox* CheckDays[CustomDayBoxCount];
  QPushButton* ButtonSave;
  QPushButton* ButtonCancel;

  void FormShow();
  // Shows the cell's mask (a cell without an integer is set to 127 at once).
  void FormActivate();
  void ButtonSaveClick();
  void ButtonCancelClick();
  void RadioGroupDaysClick();
  // The mask of the dialog's choice, and the choice of a mask.
  int GetCustDaysOfWeek() const;
  void SetCustDaysOfWeek(int mask);

protected:
  void showEvent(QShowEvent* e) override;

private:
  TRG_BtnEdit* FOwner;
};
