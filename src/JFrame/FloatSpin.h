#pragma once
// The value editors of the editing windows: a number with spin buttons (TFloatSpinEdit), an
// edit with a "..." button (TCustomBtnEdit, TBtnEdit), a date, time, date-time or duration in a
// fixed format with a calendar drop-down (TDateTimeEdit), and a track bar that jumps to the
// clicked position (TTimeBar). Every text rule comes from base/CommonProcedures; these
// classes only wire the rules to keys, focus and buttons.
#include <QDialog>
#include <QLineEdit>
#include <QSlider>
#include <string>

#include "base/CommonProcedures.h"

class QToolButton;
class QCalendarWidget;
class QLabel;

// A number with spin buttons, limits and rounding to Precision.
class TFloatSpinEdit : public QLineEdit {
  Q_OBJECT
public:
  explicit TFloatSpinEdit(QWidget* parent = nullptr);

  // The number of the text (DefValue when the text is not a number; no limits applied).
  double Value() const;
  // Rounds to Precision, clamps to the limits and shows the shortest text.
  void SetValue(double v);

  double MinValue() const { return FRules.MinValue; }
  void SetMinValue(double v) { FRules.MinValue = v; }
  double MaxValue() const { return FRules.MaxValue; }
  void SetMaxValue(double v) { FRules.MaxValue = v; }
  double Increment() const { return FIncrement; }
  void SetIncrement(double v) { FIncrement = v; }
  double DefValue() const { return FRules.DefValue; }
  void SetDefValue(double v) { FRules.DefValue = v; }
  int Precision() const { return FRules.Precision; }
  void SetPrecision(int v) { FRules.Precision = v; }
  int Digits() const { return FRules.Digits; }
  void SetDigits(int v) { FRules.Digits = v; }
  bool EditorEnabled() const { return FRules.EditorEnabled; }
  void SetEditorEnabled(bool v) { FRules.EditorEnabled = v; }
  bool ButtonsVisible() const { return FButtonsVisible; }
  void SetButtonsVisible(bool v);
  const TFloatSpinRules& Rules() const { return FRules; }

  // The decimal separator of the locale, as typed and shown.
  char Separator() const { return FSeparator; }

  QToolButton* UpButton() const { return FUp; }
  QToolButton* DownButton() const { return FDown; }

  void SpinUp();
  void SpinDown();

protected:
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

private:
  void Spin(double delta);
  void PlaceButtons();
  bool EditingAllowed() const { return FRules.EditorEnabled && !isReadOnly(); }

  TFloatSpinRules FRules;
  double FIncrement = 1;
  bool FButtonsVisible = true;
  char FSeparator = '.';
  QToolButton* FUp = nullptr;
  QToolButton* FDown = nullptr;
};

// An edit with a "..." button at its right end. Clicking into the edit hides the button until
// the edit is left.
class TCustomBtnEdit : public QLineEdit {
  Q_OBJECT
public:
  explicit TCustomBtnEdit(QWidget* parent = nullptr);

  bool ButtonVisible() const { return FButtonVisible; }
  void SetButtonVisible(bool v);
  QToolButton* Button() const { return FButton; }

signals:
  // The "..." button was pressed (OnBtnClick).
  void BtnClick();
  // The edit was clicked (OnClick) or left (OnExit).
  void Clicked();
  void Exited();

protected:
  void mousePressEvent(QMouseEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  virtual void ButtonClicked() { emit BtnClick(); }

private:
  void PlaceButton();
  QToolButton* FButton = nullptr;
  bool FButtonVisible = true;
};

// The plain button edit (OnChange is QLineEdit::textChanged).
class TBtnEdit : public TCustomBtnEdit {
  Q_OBJECT
public:
  using TCustomBtnEdit::TCustomBtnEdit;
};

// A date, time, date-time or duration in a fixed format.
class TDateTimeEdit : public TCustomBtnEdit {
  Q_OBJECT
public:
  explicit TDateTimeEdit(QWidget* parent = nullptr);

  TDateTime Value() const { return FValue1; }
  void SetValue(TDateTime v);
  double ValueAsDouble() const { return FValue1; }
  void SetValueAsDouble(double v) { SetValue(v); }
  // The text last produced from the value; setting it parses the text.
  const QString& ValueAsText() const { return FTextValue; }
  void SetValueAsText(const QString& text);

  const QString& Format() const { return FFormat; }
  void SetFormat(const QString& f);
  TFormatType FormatType() const { return FFormatType; }
  bool IsEmptyValue() const { return FIsEmptyValue; }
  bool EmptyEnabled() const { return FEmptyEnabled; }
  void SetEmptyEnabled(bool v) { FEmptyEnabled = v; }
  bool NegativeEnable() const { return FNegativeEnable; }
  void SetNegativeEnable(bool v) { FNegativeEnable = v; }

  // The two conversions of this edit's format (StrToValue uses 0 as previous value; a text
  // that is not valid gives 0 and no message).
  TDateTime StrToValue(const QString& text) const;
  QString ValueToStr(TDateTime value) const;

  // Reads the text as the operator typed it (Enter and leaving the edit do this).
  void AcceptText();
  // Opens the "Select date" drop-down.
  void DropDown();

signals:
  void Changed();  // OnChange: the value or the empty state changed

protected:
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void ButtonClicked() override { DropDown(); }

private:
  TDateTimeTextRules Rules() const;
  void ApplyParsed(const QString& text, bool showError);

  TDateTime FPrevValue = 0;
  double FValue1 = 0;
  QString FFormat = "dd/mm/yyyy hh:nn:ss,zzz";
  bool FIsEmptyValue = false;
  bool FEmptyEnabled = false;
  bool FNegativeEnable = false;
  QString FTextValue;
  TFormatType FFormatType = fmt_DateTime;
};

// The calendar drop-down of the date-time edit: "<<", the month, ">>" and a month calendar
// whose weeks start on Monday. Double-clicking a day accepts it.
class TFormSelectDate : public QDialog {
  Q_OBJECT
public:
  TFormSelectDate(QWidget* owner, TDateTime value);
  TDateTime SelectedDate() const { return FSelected; }
  QCalendarWidget* Calendar() const { return FCalendar; }
  QLabel* MonthLabel() const { return FMonth; }
  QToolButton* BtnPrev() const { return FBtnPrev; }
  QToolButton* BtnNext() const { return FBtnNext; }

private:
  void ShowMonth();
  QCalendarWidget* FCalendar;
  QLabel* FMonth;
  QToolButton* FBtnPrev;
  QToolButton* FBtnNext;
  TDateTime FSelected = 0;
};

// Where a press at coordinate p puts a track bar with thumb length t and length l:
// min + round((p - t*7/12) * (max - min) / (l - t*7/6)) with integer divisions by 12 and 6,
// clamped to min..max.
int TimeBarPosition(int p, int t, int l, int min, int max);

// A track bar that jumps to the clicked position.
class TTimeBar : public QSlider {
  Q_OBJECT
public:
  explicit TTimeBar(QWidget* parent = nullptr);
  int ThumbLength() const;

protected:
  void mousePressEvent(QMouseEvent* e) override;
};
