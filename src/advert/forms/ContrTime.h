#pragma once
// "Select times per hour": the three hour ranges of a contract row's "Times per hour" cell,
// each with its number of spots per hour. Opened by the cell's button; "Save" writes the ranges
// back into the cell.
#include <QDialog>

#include "advert/Contracts.h"

class QPushButton;
class QSpinBox;
class TRG_BtnEdit;

class TFormContrTime : public QDialog {
  Q_OBJECT
public:
  // Owner: the cell editor whose value the dialog edits.
  explicit TFormContrTime(TRG_BtnEdit* owner, QWidget* parent = nullptr);

  QSpinBox* EditStart[TimesDialogRows];
  QSpinBox* EditStop[TimesDialogRows];
  QSpinBox* EditTimes[TimesDialogRows];
  QPushButton* ButtonSave;
  QPushButton* ButtonCancel;

  // Shows the cell's value (a cell without a times array is set to [] at once).
  void FormActivate();
  void ButtonSaveClick();
  void ButtonCancelClick();
  // A Begin above its End raises the End; an End below its Begin lowers the Begin.
  void EditStart1Change(int row);
  void EditStop1Change(int row);
  TTimesDialogRows GetTimes() const;
  void SetTimes(const TTimesDialogRows& rows);

protected:
  void showEvent(QShowEvent* e) override;

private:
  TRG_BtnEdit* FOwner;
  bool FSetting = false;
};
