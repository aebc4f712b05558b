// Geometry of the "Time Line" month calendar.
#include <gtest/gtest.h>

#include "advert/TimeLineCalendar.h"
#include "base/CommonProcedures.h"

namespace {
TCalendarInput Window(int year, unsigned month) {
  TCalendarInput in;
  in.Year = year;
  in.Month = month;
  in.ClientWidth = 1043;  // (1043 - 35) div 168 = 6
  in.ClientHeight = 646;
  in.PanelHeight = 30;
  in.TextHeight = 16;  // t = 46, u = (646 - 46) div 6 = 100
  return in;
}
}  // namespace

TEST(TimeLineCalendar, SizesFromTheClientArea) {
  TCalendarLayout l = CalendarLayout(Window(2024, 1));
  EXPECT_EQ(l.Caption, "January 2024");
  EXPECT_EQ(l.T, 46);
  EXPECT_EQ(l.J, 6);
  EXPECT_EQ(l.D, 149);
  EXPECT_EQ(l.U, 100);
}

TEST(TimeLineCalendar, HeadersAreRightAlignedAtTheColumnEnds) {
  TCalendarLayout l = CalendarLayout(Window(2024, 1));
  EXPECT_EQ(l.Headers[0].Text, "Mon");
  EXPECT_EQ(l.Headers[0].Right, 149);
  EXPECT_EQ(l.Headers[0].Top, 30);
  EXPECT_EQ(l.Headers[0].Color, CalendarBlack);
  EXPECT_EQ(l.Headers[4].Color, CalendarBlack);
  EXPECT_EQ(l.Headers[5].Text, "Sat");
  EXPECT_EQ(l.Headers[5].Color, CalendarRed);
  EXPECT_EQ(l.Headers[6].Text, "Sun");
  EXPECT_EQ(l.Headers[6].Right, 7 * 149);
  EXPECT_EQ(l.Headers[6].Color, CalendarRed);
}

TEST(TimeLineCalendar, AMonthStartingOnMonday) {
  TCalendarLayout l = CalendarLayout(Window(2024, 1));  // 1 January 2024 is a Monday
  const TCalendarCell& first = l.Cells[0];
  EXPECT_EQ(first.Frame, (TCalendarRect{5, 46, 149, 141}));
  EXPECT_EQ(first.DayNumber, 1);
  EXPECT_EQ(first.Kind, cdThisMonth);
  EXPECT_EQ(first.Color, CalendarBlack);
  EXPECT_EQ(first.Day, static_cast<int64_t>(EncodeDate(2024, 1, 1)));
  EXPECT_EQ(first.TextRight, 147);
  EXPECT_EQ(first.TextTop, 47);
  // Saturday 6th in red; the 31st is a Wednesday in row 4; then February in silver.
  EXPECT_EQ(l.Cells[5].Color, CalendarRed);
  EXPECT_EQ(l.Cells[30].DayNumber, 31);
  EXPECT_EQ(l.Cells[30].Frame, (TCalendarRect{2 * 149 + 5, 4 * 100 + 46, 3 * 149, 5 * 100 + 41}));
  EXPECT_EQ(l.Cells[31].DayNumber, 1);
  EXPECT_EQ(l.Cells[31].Kind, cdNextMonth);
  EXPECT_EQ(l.Cells[31].Color, CalendarSilver);
  EXPECT_EQ(l.Cells[41].DayNumber, 11);
  EXPECT_EQ(l.Cells[41].Color, CalendarSilver);  // silver even on a Sunday
}

TEST(TimeLineCalendar, AMonthStartingOnSundayShowsTheEndOfThePreviousMonth) {
  TCalendarLayout l = CalendarLayout(Window(2024, 9));  // 1 September 2024 is a Sunday
  EXPECT_EQ(l.Cells[0].DayNumber, 26);  // Monday 26 August
  EXPECT_EQ(l.Cells[0].Kind, cdPrevMonth);
  EXPECT_EQ(l.Cells[0].Color, CalendarSilver);
  EXPECT_EQ(l.Cells[0].Day, static_cast<int64_t>(EncodeDate(2024, 8, 26)));
  EXPECT_EQ(l.Cells[5].DayNumber, 31);
  EXPECT_EQ(l.Cells[6].DayNumber, 1);
  EXPECT_EQ(l.Cells[6].Kind, cdThisMonth);
  EXPECT_EQ(l.Cells[6].Color, CalendarRed);
  EXPECT_EQ(l.Cells[35].DayNumber, 30);  // Monday 30 September opens the sixth row
  EXPECT_EQ(l.Cells[36].DayNumber, 1);
  EXPECT_EQ(l.Cells[36].Kind, cdNextMonth);
  // March 2024 after a leap February: the Monday before the 1st (a Friday) is 26 February.
  EXPECT_EQ(CalendarLayout(Window(2024, 3)).Cells[0].DayNumber, 26);
  EXPECT_EQ(CalendarLayout(Window(2023, 3)).Cells[0].DayNumber, 27);
}

TEST(TimeLineCalendar, TwentyFourBarsRisingByTwoPixels) {
  TCalendarLayout l = CalendarLayout(Window(2024, 1));
  const TCalendarCell& c = l.Cells[8];  // row 1, column 1
  const int left = 149 + 5, top = 100 + 46;
  EXPECT_EQ(c.Bars[0], (TCalendarRect{left, top + 95, left + 6, top + 95}));  // height 0
  EXPECT_EQ(c.Bars[3], (TCalendarRect{left + 18, top + 89, left + 24, top + 95}));
  EXPECT_EQ(c.Bars[23], (TCalendarRect{left + 138, top + 49, left + 144, top + 95}));
}

TEST(TimeLineCalendar, ATinyWindowGivesEmptyBarsNotGarbage) {
  TCalendarInput in = Window(2024, 1);
  in.ClientWidth = 20;
  in.ClientHeight = 10;
  TCalendarLayout l = CalendarLayout(in);
  EXPECT_EQ(l.J, 0);
  EXPECT_EQ(l.U, 0);
  EXPECT_EQ(l.D, 5);
  EXPECT_EQ(l.Cells[0].Bars[23].Left, l.Cells[0].Bars[23].Right);
  EXPECT_EQ(l.Cells[0].DayNumber, 1);
}

TEST(TimeLineCalendar, StepsAcrossYearEnds) {
  int y = 2024;
  unsigned m = 1;
  StepCalendarMonth(y, m, -1);
  EXPECT_EQ(y, 2023);
  EXPECT_EQ(m, 12u);
  StepCalendarMonth(y, m, 1);
  EXPECT_EQ(y, 2024);
  EXPECT_EQ(m, 1u);
  StepCalendarMonth(y, m, 25);
  EXPECT_EQ(y, 2026);
  EXPECT_EQ(m, 2u);
}
