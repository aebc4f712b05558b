// The value editors driven through real key and mouse events.
#include <QApplication>
#include <QCalendarWidget>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <cmath>

#include "JFrame/FloatSpin.h"
#include "support/TestSupport.h"

namespace {
void FocusOut(QWidget* w) {
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(w, &out);
}

void Retype(QLineEdit* e, const QString& text) {
  e->selectAll();
  QTest::keyClick(e, Qt::Key_Backspace);
  QTest::keyClicks(e, text);
}
}  // namespace

class TValueEditorsTest : public QObject {
  Q_OBJECT
private slots:
  void SpinNewEditShowsZero() {
    TFloatSpinEdit e;
    QCOMPARE(e.text(), QString("0"));
    QCOMPARE(e.Value(), 0.0);
  }

  void SpinLimitsClampWhatIsSet() {
    TFloatSpinEdit e;
    e.SetMinValue(1);
    e.SetMaxValue(999);
    e.SetValue(1000);
    QCOMPARE(e.text(), QString("999"));
    e.SetValue(0.5);
    QCOMPARE(e.text(), QString("1"));
    // Equal limits mean no limits.
    TFloatSpinEdit free;
    free.SetValue(-123456.5);
    QCOMPARE(free.text(), QString("-123456.5"));
  }

  void SpinPrecisionZeroRoundsHalvesToEven() {
    TFloatSpinEdit e;
    e.SetPrecision(0);
    e.SetValue(2.5);
    QCOMPARE(e.text(), QString("2"));
    e.SetValue(3.5);
    QCOMPARE(e.text(), QString("4"));
    e.SetValue(-2.5);
    QCOMPARE(e.text(), QString("-2"));
  }

  void SpinTypingStopsAtDigitsAndDecimals() {
    TFloatSpinEdit e;  // Precision -2, Digits 2
    e.show();
    e.setFocus();
    e.end(false);
    QTest::keyClicks(&e, "123");
    QCOMPARE(e.text(), QString("12"));  // the leading "0" went, the third digit was refused
    QTest::keyClicks(&e, ".345");
    QCOMPARE(e.text(), QString("12.34"));
    QTest::keyClicks(&e, ",");  // a second separator is refused
    QCOMPARE(e.text(), QString("12.34"));
  }

  void SpinCommaBecomesSeparatorAndPrecisionZeroRefusesIt() {
    TFloatSpinEdit e;
    e.end(false);
    QTest::keyClicks(&e, "7,5");
    QCOMPARE(e.text(), QString("7.5"));
    TFloatSpinEdit whole;
    whole.SetPrecision(0);
    whole.SetDigits(5);
    whole.end(false);
    QTest::keyClicks(&whole, "12.5");
    QCOMPARE(whole.text(), QString("125"));
  }

  void SpinMinusOnlyAtStartAndWhenNegativesArePossible() {
    TFloatSpinEdit e;  // no limits: negatives possible
    e.setText("");
    QTest::keyClicks(&e, "-5");
    QCOMPARE(e.text(), QString("-5"));
    e.setCursorPosition(0);
    QTest::keyClicks(&e, "-");  // only once
    QCOMPARE(e.text(), QString("-5"));
    QTest::keyClicks(&e, "3");  // a digit before the "-" is refused
    QCOMPARE(e.text(), QString("-5"));

    TFloatSpinEdit positive;
    positive.SetMinValue(0);
    positive.SetMaxValue(100);
    positive.setText("");
    QTest::keyClicks(&positive, "-");
    QCOMPARE(positive.text(), QString(""));
  }

  void SpinEnterIsRefusedArrowsSpin() {
    TFloatSpinEdit e;
    e.SetIncrement(0.25);
    e.setText("1");
    QTest::keyClick(&e, Qt::Key_Return);
    QCOMPARE(e.text(), QString("1"));
    QTest::keyClick(&e, Qt::Key_Up);
    QCOMPARE(e.text(), QString("1.25"));
    QTest::keyClick(&e, Qt::Key_Down);
    QTest::keyClick(&e, Qt::Key_Down);
    QCOMPARE(e.text(), QString("0.75"));
    QTest::mouseClick(e.UpButton(), Qt::LeftButton);
    QCOMPARE(e.text(), QString("1"));
  }

  void SpinArrowsClampToLimits() {
    TFloatSpinEdit e;
    e.SetPrecision(0);
    e.SetDigits(5);
    e.SetMinValue(1000);
    e.SetMaxValue(24000);
    e.SetIncrement(100);
    e.SetValue(23950);
    QTest::keyClick(&e, Qt::Key_Up);
    QCOMPARE(e.text(), QString("24000"));
  }

  void SpinLeavingNormalisesRoundsAndClamps() {
    TFloatSpinEdit e;
    e.SetMinValue(-10);
    e.SetMaxValue(10);
    e.setText("5.678");
    FocusOut(&e);
    QCOMPARE(e.text(), QString("5.68"));
    e.setText("55");
    FocusOut(&e);
    QCOMPARE(e.text(), QString("10"));
    e.SetDefValue(3);
    e.setText("abc");
    QCOMPARE(e.Value(), 3.0);  // a bad text reads as DefValue, no message
    FocusOut(&e);
    QCOMPARE(e.text(), QString("3"));
  }

  void SpinDisabledEditorLeavesOnlyTheButtons() {
    TFloatSpinEdit e;
    e.SetEditorEnabled(false);
    e.setText("4");
    e.end(false);
    QTest::keyClicks(&e, "5");
    QTest::keyClick(&e, Qt::Key_Backspace);
    QCOMPARE(e.text(), QString("4"));
    QTest::keyClick(&e, Qt::Key_Up);
    QCOMPARE(e.text(), QString("5"));
  }

  void SpinTypingReplacesASelection() {
    TFloatSpinEdit e;
    e.setText("99");
    e.selectAll();
    QTest::keyClicks(&e, "7");
    QCOMPARE(e.text(), QString("7"));
    e.setText("12.34");
    e.setSelection(1, 3);  // "2.3"
    QTest::keyClick(&e, Qt::Key_Backspace);
    QCOMPARE(e.text(), QString("14"));
  }

  void DateTimeTimeFormatDropsMilliseconds() {
    TDateTimeEdit e;
    e.SetFormat("hh:nn:ss");
    QCOMPARE(e.FormatType(), fmt_Time);
    e.SetValue(EncodeTime(10, 20, 30, 450));
    QCOMPARE(e.text(), QString("10:20:30"));
    QCOMPARE(e.ValueAsText(), QString("10:20:30"));
    QVERIFY(std::fabs(e.Value() - EncodeTime(10, 20, 30, 0)) < 1e-9);
  }

  void DateTimeFormatTypes() {
    TDateTimeEdit e;
    QCOMPARE(e.FormatType(), fmt_DateTime);  // "dd/mm/yyyy hh:nn:ss,zzz"
    e.SetFormat("dd.mm.yyyy");
    QCOMPARE(e.FormatType(), fmt_Date);
    e.SetFormat("q hh:nn:ss");
    QCOMPARE(e.FormatType(), fmt_DeltaTime);
  }

  void DateTimeDeltaTextThroughKeys() {
    TDateTimeEdit e;
    e.SetFormat("q hh:nn:ss");
    e.SetNegativeEnable(true);
    QSignalSpy changed(&e, &TDateTimeEdit::Changed);
    Retype(&e, "2 01:00:00");
    QTest::keyClick(&e, Qt::Key_Return);
    QVERIFY(std::fabs(e.Value() - (2.0 + 1.0 / 24)) < 1e-9);
    QCOMPARE(e.text(), QString("2 01:00:00"));
    QCOMPARE(changed.count(), 1);
    Retype(&e, "-2 01:00:00");
    QTest::keyClick(&e, Qt::Key_Return);
    QVERIFY(std::fabs(e.Value() + (2.0 + 1.0 / 24)) < 1e-9);
    QCOMPARE(e.text(), QString("-2 01:00:00"));
  }

  void DateTimeFilmDurationAcceptsComma() {
    TDateTimeEdit e;
    e.SetFormat("hh:nn:ss,zzz");
    e.SetValueAsText("00:01:30,500");
    QVERIFY(std::fabs(e.Value() - EncodeTime(0, 1, 30, 500)) < 1e-9);
    QCOMPARE(e.ValueAsText(), QString("00:01:30,500"));
  }

  void DateTimeEmptyTextIsNotValidWithoutEmptyEnabled() {
    TScopedFakeOperator op;
    TDateTimeEdit e;
    e.SetFormat("hh:nn:ss");
    e.SetValue(EncodeTime(1, 2, 3, 0));
    Retype(&e, "");
    QTest::keyClick(&e, Qt::Key_Return);
    QCOMPARE(op.Messages.size(), size_t(1));
    QCOMPARE(QString::fromStdString(op.Messages[0].Caption), QString("Error"));
    QCOMPARE(QString::fromStdString(op.Messages[0].Text),
             QString("\"\" is not valid time. Will use the previous valid value"));
    QCOMPARE(e.text(), QString("01:02:03"));  // the previous value came back
  }

  void DateTimeEmptyStateWhenEnabled() {
    TScopedFakeOperator op;
    TDateTimeEdit e;
    e.SetFormat("dd.mm.yyyy");
    e.SetEmptyEnabled(true);
    e.SetValue(EncodeDate(2024, 3, 15));
    Retype(&e, "  ");
    QTest::keyClick(&e, Qt::Key_Return);
    QVERIFY(op.Messages.empty());
    QVERIFY(e.IsEmptyValue());
    QCOMPARE(e.Value(), 0.0);
    QCOMPARE(e.text(), QString(""));
  }

  void DateTimeBadDateKeepsPreviousAndEscapeRestores() {
    TScopedFakeOperator op;
    TDateTimeEdit e;
    e.SetFormat("dd.mm.yyyy");
    e.SetValue(EncodeDate(2024, 3, 15));
    Retype(&e, "31.02.2024");
    QTest::keyClick(&e, Qt::Key_Return);
    QCOMPARE(op.Messages.size(), size_t(1));
    QCOMPARE(QString::fromStdString(op.Messages[0].Text),
             QString("\"31.02.2024\" is not valid date. Will use the previous valid value"));
    QCOMPARE(e.text(), QString("15.03.2024"));
    Retype(&e, "01.01.20");
    QTest::keyClick(&e, Qt::Key_Escape);
    QCOMPARE(e.text(), QString("15.03.2024"));
    QCOMPARE(op.Messages.size(), size_t(1));
  }

  void DateTimeLeavingReadsTheText() {
    TScopedFakeOperator op;
    TDateTimeEdit e;
    e.SetFormat("dd.mm.yyyy");
    e.setText("02.01.2025");
    FocusOut(&e);
    QCOMPARE(e.Value(), EncodeDate(2025, 1, 2));
    QVERIFY(op.Messages.empty());
  }

  void DateTimeConversionsForOtherControls() {
    TDateTimeEdit e;
    e.SetFormat("q hh:nn:ss");
    QVERIFY(std::fabs(e.StrToValue("1 12:00:00") - 1.5) < 1e-9);
    QCOMPARE(e.ValueToStr(1.5), QString("1 12:00:00"));
  }

  void CalendarDropDown() {
    TFormSelectDate dlg(nullptr, EncodeDate(2024, 3, 15) + 0.5);
    QCOMPARE(dlg.windowTitle(), QString("Select date"));
    QCOMPARE(dlg.size(), QSize(300, 300));
    QCOMPARE(dlg.MonthLabel()->text(), QString("March 2024"));
    QCOMPARE(dlg.BtnPrev()->text(), QString("<<"));
    QCOMPARE(dlg.BtnNext()->text(), QString(">>"));
    QCOMPARE(dlg.Calendar()->firstDayOfWeek(), Qt::Monday);
    QCOMPARE(dlg.Calendar()->selectedDate(), QDate(2024, 3, 15));
    QTest::mouseClick(dlg.BtnNext(), Qt::LeftButton);
    QCOMPARE(dlg.MonthLabel()->text(), QString("April 2024"));
    QTest::mouseClick(dlg.BtnPrev(), Qt::LeftButton);
    QTest::mouseClick(dlg.BtnPrev(), Qt::LeftButton);
    QCOMPARE(dlg.MonthLabel()->text(), QString("February 2024"));
    emit dlg.Calendar()->activated(QDate(2024, 2, 29));  // a double-click on a day
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.SelectedDate(), EncodeDate(2024, 2, 29));
  }

  void CalendarOpensOnTodayForZero() {
    TFormSelectDate dlg(nullptr, 0);
    QCOMPARE(dlg.Calendar()->selectedDate(), QDate::currentDate());
  }

  void BtnEditButtonHidesWhileEditing() {
    QWidget host;
    TBtnEdit e(&host);
    e.setObjectName("EditFile");
    QLineEdit other(&host);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QCOMPARE(e.Button()->objectName(), QString("EditFileBtn"));
    QCOMPARE(e.Button()->text(), QString("..."));
    QSignalSpy clicks(&e, &TCustomBtnEdit::BtnClick);
    QTest::mouseClick(e.Button(), Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    QTest::mouseClick(&e, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!e.Button()->isVisible());
    FocusOut(&e);
    QVERIFY(e.Button()->isVisible());
    e.SetButtonVisible(false);
    QVERIFY(!e.Button()->isVisible());
  }

  void TimeBarFormula() {
    // t = 20: t*7/12 = 11 and t*7/6 = 23 in integer division.
    QCOMPARE(TimeBarPosition(50, 20, 220, 0, 100), 20);  // 39*100/197 = 19.8
    QCOMPARE(TimeBarPosition(0, 20, 220, 0, 100), 0);    // clamped
    QCOMPARE(TimeBarPosition(220, 20, 220, 0, 100), 100);  // clamped
    QCOMPARE(TimeBarPosition(11, 20, 220, 10, 20), 10);
    // t = 13: 91/12 = 7, 91/6 = 15; (57-7)*1000/(215-15) = 250 exactly.
    QCOMPARE(TimeBarPosition(57, 13, 215, 0, 1000), 250);
  }

  void TimeBarJumpsToTheClick() {
    TTimeBar bar;
    bar.setRange(0, 1000);
    bar.resize(400, 30);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    const int t = bar.ThumbLength();
    QVERIFY(t > 0);
    const int p = 300;
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(p, 15));
    const double exact = double(p - t * 7 / 12) * 1000 / (400 - t * 7 / 6);
    QVERIFY(std::abs(bar.value() - exact) <= 0.5);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(p, 15));
  }
};

QTEST_MAIN(TValueEditorsTest)
#include "ValueEditors.moc"
