#include "JFrame/FloatSpin.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "base/Operator.h"
#include "JFrame/QtText.h"

namespace {
char LocaleSeparator() {
  QString dp = QLocale().decimalPoint();
  return dp.size() == 1 && dp[0].unicode() < 128 ? static_cast<char>(dp[0].unicode()) : '.';
}

std::string Std(const QString& s) { return s.toStdString(); }
}  // namespace

// ---------------------------------------------------------------------------------------------
// TFloatSpinEdit

TFloatSpinEdit::TFloatSpinEdit(QWidget* parent) : QLineEdit(parent), FSeparator(LocaleSeparator()) {
  FUp = new QToolButton(this);
  FDown = new QToolButton(this);
  FUp->setObjectName("BtnUp");
  FDown->setObjectName("BtnDown");
  FUp->setArrowType(Qt::UpArrow);
  FDown->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {FUp, FDown}) {
    b->setCursor(Qt::ArrowCursor);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
  }
  connect(FUp, &QToolButton::clicked, this, &TFloatSpinEdit::SpinUp);
  connect(FDown, &QToolButton::clicked, this, &TFloatSpinEdit::SpinDown);
  setText("0");
  PlaceButtons();
}

double TFloatSpinEdit::Value() const {
  return SpinTextToValue(Std(text()), FRules.DefValue, FSeparator);
}

void TFloatSpinEdit::SetValue(double v) {
  double value = SpinValue(v, FRules);
  setText(Qs(SpinValueText(value, FRules.Precision, FSeparator)));
}

void TFloatSpinEdit::SetButtonsVisible(bool v) {
  FButtonsVisible = v;
  PlaceButtons();
}

void TFloatSpinEdit::SpinUp() { Spin(FIncrement); }
void TFloatSpinEdit::SpinDown() { Spin(-FIncrement); }

void TFloatSpinEdit::Spin(double delta) {
  if (isReadOnly()) {
    QApplication::beep();
    return;
  }
  SetValue(Value() + delta);
}

void TFloatSpinEdit::PlaceButtons() {
  const int w = FButtonsVisible ? 16 : 0;
  FUp->setVisible(FButtonsVisible);
  FDown->setVisible(FButtonsVisible);
  setTextMargins(0, 0, w, 0);
  const int h = height();
  FUp->setGeometry(width() - w - 1, 1, w, h / 2 - 1);
  FDown->setGeometry(width() - w - 1, h / 2, w, h - h / 2 - 1);
}

void TFloatSpinEdit::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  PlaceButtons();
}

void TFloatSpinEdit::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) {
    Spin(e->key() == Qt::Key_Up ? FIncrement : -FIncrement);
    e->accept();
    return;
  }
  if (e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut)) {
    if (EditingAllowed()) QLineEdit::keyPressEvent(e);
    else QApplication::beep();
    return;
  }
  if (e->key() == Qt::Key_Delete && !EditingAllowed()) {
    QApplication::beep();
    return;
  }
  QString typed = e->text();
  bool isChar = typed.size() == 1 && typed[0].unicode() < 128 &&
                !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    QApplication::beep();  // Enter is refused, as every other rejected key
    e->accept();
    return;
  }
  if (!isChar && typed.size() == 1 && typed[0].unicode() >= 128) {
    QApplication::beep();
    return;
  }
  if (!isChar) {
    QLineEdit::keyPressEvent(e);  // navigation and editing keys
    return;
  }
  if (isReadOnly()) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  if (typed[0].unicode() < 0x20) {
    // Control characters pass (the edit deletes a selection as a whole), except Backspace
    // while typing is not allowed.
    if (e->key() == Qt::Key_Backspace && !FRules.EditorEnabled) QApplication::beep();
    else QLineEdit::keyPressEvent(e);
    return;
  }
  // A selection is replaced by what is typed: the rules judge the text without it.
  std::string t = Std(text());
  size_t caret = static_cast<size_t>(cursorPosition());
  if (hasSelectedText()) {
    size_t start = static_cast<size_t>(selectionStart());
    size_t len = static_cast<size_t>(selectedText().toStdString().size());
    t.erase(start, len);
    caret = start;
  }
  TSpinKeyResult r = SpinKeyPress(t, caret, static_cast<char>(typed[0].unicode()), FRules, FSeparator);
  if (!r.Accepted) {
    QApplication::beep();
    e->accept();
    return;
  }
  setText(Qs(r.Text));
  setCursorPosition(static_cast<int>(r.Caret));
  e->accept();
}

void TFloatSpinEdit::focusOutEvent(QFocusEvent* e) {
  SetValue(Value());
  QLineEdit::focusOutEvent(e);
}

void TFloatSpinEdit::contextMenuEvent(QContextMenuEvent* e) {
  QMenu* menu = createStandardContextMenu();
  if (!EditingAllowed()) {
    for (QAction* a : menu->actions())
      if (a->objectName() == "edit-paste" || a->objectName() == "edit-cut" ||
          a->objectName() == "edit-delete")
        a->setEnabled(false);
  }
  menu->exec(e->globalPos());
  delete menu;
}

// ---------------------------------------------------------------------------------------------
// TCustomBtnEdit

TCustomBtnEdit::TCustomBtnEdit(QWidget* parent) : QLineEdit(parent) {
  FButton = new QToolButton(this);
  FButton->setText("...");
  FButton->setCursor(Qt::ArrowCursor);
  FButton->setFocusPolicy(Qt::NoFocus);
  connect(FButton, &QToolButton::clicked, this, [this] { ButtonClicked(); });
  // The button is named after the edit with "Btn" appended.
  connect(this, &QObject::objectNameChanged, this,
          [this](const QString& name) { FButton->setObjectName(name + "Btn"); });
  PlaceButton();
}

void TCustomBtnEdit::SetButtonVisible(bool v) {
  FButtonVisible = v;
  PlaceButton();
}

void TCustomBtnEdit::PlaceButton() {
  const int w = 22;
  FButton->setVisible(FButtonVisible);
  setTextMargins(0, 0, FButtonVisible ? w : 0, 0);
  FButton->setGeometry(width() - w - 1, 1, w, height() - 2);
}

void TCustomBtnEdit::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  PlaceButton();
}

void TCustomBtnEdit::mousePressEvent(QMouseEvent* e) {
  FButton->setVisible(false);
  setTextMargins(0, 0, 0, 0);
  QLineEdit::mousePressEvent(e);
  emit Clicked();
}

void TCustomBtnEdit::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  PlaceButton();
  emit Exited();
}

// ---------------------------------------------------------------------------------------------
// TDateTimeEdit

TDateTimeEdit::TDateTimeEdit(QWidget* parent) : TCustomBtnEdit(parent) {
  FFormatType = FormatTypeOf(Std(FFormat));
  SetValue(0);
}

TDateTimeTextRules TDateTimeEdit::Rules() const {
  TDateTimeTextRules r;
  r.Format = Std(FFormat);
  r.EmptyEnabled = FEmptyEnabled;
  r.NegativeEnable = FNegativeEnable;
  return r;
}

void TDateTimeEdit::SetFormat(const QString& f) {
  FFormat = f;
  FFormatType = FormatTypeOf(Std(f));
  if (!FIsEmptyValue) SetValue(FValue1);
}

void TDateTimeEdit::SetValue(TDateTime v) {
  TDateTimeTextRules rules = Rules();
  double value = NormaliseValue(v, rules);
  bool changed = value != FValue1 || FIsEmptyValue;
  FValue1 = value;
  FTextValue = Qs(::ValueToStr(value, rules));
  setText(FTextValue);
  FPrevValue = value;
  FIsEmptyValue = false;
  if (changed) emit Changed();
}

QString TDateTimeEdit::ValueToStr(TDateTime value) const {
  return Qs(::ValueToStr(NormaliseValue(value, Rules()), Rules()));
}

TDateTime TDateTimeEdit::StrToValue(const QString& text) const {
  TStrToValueResult r = ::StrToValue(Std(text), Rules(), 0);
  return r.Error ? 0 : r.Value;
}

void TDateTimeEdit::ApplyParsed(const QString& text, bool showError) {
  TStrToValueResult r = ::StrToValue(Std(text), Rules(), FPrevValue);
  if (r.Error) {
    if (showError) AppOperator().MessageBox("Error", *r.Error, TMsgIcon::Error);
    SetValue(FPrevValue);
    return;
  }
  if (r.IsEmpty) {
    bool changed = !FIsEmptyValue || FValue1 != 0;
    FIsEmptyValue = true;
    FValue1 = 0;
    FTextValue.clear();
    setText(QString());
    if (changed) emit Changed();
    return;
  }
  SetValue(r.Value);
}

void TDateTimeEdit::SetValueAsText(const QString& text) { ApplyParsed(text, true); }

void TDateTimeEdit::AcceptText() { ApplyParsed(text(), true); }

void TDateTimeEdit::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    AcceptText();
    e->accept();
    return;
  }
  if (e->key() == Qt::Key_Escape) {
    SetValue(FPrevValue);
    e->accept();
    return;
  }
  TCustomBtnEdit::keyPressEvent(e);
}

void TDateTimeEdit::focusOutEvent(QFocusEvent* e) {
  // A text already accepted (or the empty state) is not read again.
  if (!(text() == FTextValue)) AcceptText();
  TCustomBtnEdit::focusOutEvent(e);
}

void TDateTimeEdit::DropDown() {
  TFormSelectDate dlg(this, FValue1);
  if (dlg.exec() == QDialog::Accepted) SetValue(dlg.SelectedDate());
}

// ---------------------------------------------------------------------------------------------
// TFormSelectDate

TFormSelectDate::TFormSelectDate(QWidget* owner, TDateTime value) : QDialog(owner) {
  setObjectName("dForm");
  setWindowTitle("Select date");
  resize(300, 300);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(4, 4, 4, 4);
  auto* panel = new QWidget(this);
  panel->setObjectName("Panel");
  auto* strip = new QHBoxLayout(panel);
  strip->setContentsMargins(0, 0, 0, 0);
  FBtnPrev = new QToolButton(panel);
  FBtnPrev->setObjectName("BtnPrev");
  FBtnPrev->setText("<<");
  FBtnNext = new QToolButton(panel);
  FBtnNext->setObjectName("BtnNext");
  FBtnNext->setText(">>");
  FMonth = new QLabel(panel);
  FMonth->setAlignment(Qt::AlignCenter);
  QFont f = FMonth->font();
  f.setBold(true);
  FMonth->setFont(f);
  strip->addWidget(FBtnPrev);
  strip->addWidget(FMonth, 1);
  strip->addWidget(FBtnNext);
  lay->addWidget(panel);
  FCalendar = new QCalendarWidget(this);
  FCalendar->setObjectName("Calendar");
  FCalendar->setFirstDayOfWeek(Qt::Monday);
  FCalendar->setNavigationBarVisible(false);
  FCalendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  lay->addWidget(FCalendar, 1);

  TDateTime start = value == 0 ? Now() : value;
  TDateParts d = DecodeDate(start);
  QDate date(d.Year, static_cast<int>(d.Month), static_cast<int>(d.Day));
  FCalendar->setSelectedDate(date);
  FCalendar->setCurrentPage(date.year(), date.month());
  ShowMonth();
  connect(FBtnPrev, &QToolButton::clicked, this, [this] {
    FCalendar->showPreviousMonth();
    ShowMonth();
  });
  connect(FBtnNext, &QToolButton::clicked, this, [this] {
    FCalendar->showNextMonth();
    ShowMonth();
  });
  connect(FCalendar, &QCalendarWidget::currentPageChanged, this, [this] { ShowMonth(); });
  connect(FCalendar, &QCalendarWidget::activated, this, [this](QDate day) {
    FSelected = EncodeDate(day.year(), static_cast<unsigned>(day.month()),
                           static_cast<unsigned>(day.day()));
    accept();
  });
  if (owner && owner->window()) {
    QWidget* w = owner->window();
    QPoint c = w->mapToGlobal(w->rect().center());
    QRect r(c.x() - width() / 2, c.y() - height() / 2, width(), height());
    // Kept on the screen when the owner sits near an edge.
    if (QScreen* screen = w->screen()) {
      QRect avail = screen->availableGeometry();
      r.moveLeft(std::clamp(r.left(), avail.left(), std::max(avail.left(), avail.right() - r.width())));
      r.moveTop(std::clamp(r.top(), avail.top(), std::max(avail.top(), avail.bottom() - r.height())));
    }
    move(r.topLeft());
  }
}

void TFormSelectDate::ShowMonth() {
  TDateTime first = EncodeDate(FCalendar->yearShown(), static_cast<unsigned>(FCalendar->monthShown()), 1);
  FMonth->setText(Qs(FormatDateTime("mmmm yyyy", first)));
}

// ---------------------------------------------------------------------------------------------
// TTimeBar

int TimeBarPosition(int p, int t, int l, int min, int max) {
  const int denominator = l - t * 7 / 6;
  if (denominator <= 0) return min;
  double raw = static_cast<double>(p - t * 7 / 12) * (max - min) / denominator;
  long pos = min + std::lrint(std::nearbyint(raw));  // halves to even, as the rest of the console
  if (pos < min) pos = min;
  if (pos > max) pos = max;
  return static_cast<int>(pos);
}

TTimeBar::TTimeBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

int TTimeBar::ThumbLength() const {
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
  return orientation() == Qt::Horizontal ? handle.width() : handle.height();
}

void TTimeBar::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QSlider::mousePressEvent(e);
    return;
  }
  const bool horizontal = orientation() == Qt::Horizontal;
  const int p = horizontal ? e->position().toPoint().x() : e->position().toPoint().y();
  const int l = horizontal ? width() : height();
  setValue(TimeBarPosition(p, ThumbLength(), l, minimum(), maximum()));
  e->accept();
}
