#include "advert/TimeLineCalendar.h"

#include "base/CommonProcedures.h"

#include <algorithm>

namespace {
// Integer division rounding towards minus infinity (months before January).
int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
}  // namespace

void StepCalendarMonth(int& year, unsigned& month, int by) {
  int m = static_cast<int>(month) - 1 + by;
  year += FloorDiv(m, 12);
  m -= FloorDiv(m, 12) * 12;
  month = static_cast<unsigned>(m + 1);
}

TCalendarLayout CalendarLayout(const TCalendarInput& in) {
  TCalendarLayout out;
  const TDateTime first = EncodeDate(in.Year, in.Month, 1);
  out.Caption = FormatDateTime("mmmm yyyy", first);
  out.T = in.PanelHeight + in.TextHeight;
  // A window too small for the margins shows empty cells rather than negative sizes.
  out.J = std::max(0, (in.ClientWidth - 35) / 168);
  out.D = 24 * out.J + 5;
  out.U = std::max(0, (in.ClientHeight - out.T) / 6);

  for (int k = 0; k < 7; ++k) {
    TCalendarHeader& h = out.Headers[static_cast<size_t>(k)];
    h.Text = ShortDayName(k);
    h.Right = (k + 1) * out.D;
    h.Top = out.T - in.TextHeight;
    h.Color = k >= 5 ? CalendarRed : CalendarBlack;
  }

  const int64_t firstDay = DayCount(first);
  const int lead = DayOfWeekMon0(firstDay);
  const int length = static_cast<int>(DaysInMonth(in.Year, in.Month));
  int prevYear = in.Year;
  unsigned prevMonth = in.Month;
  StepCalendarMonth(prevYear, prevMonth, -1);
  const int prevLength = static_cast<int>(DaysInMonth(prevYear, prevMonth));

  for (int q = 0; q < 6; ++q) {
    for (int c = 0; c < 7; ++c) {
      TCalendarCell& cell = out.Cells[static_cast<size_t>(q * 7 + c)];
      cell.Row = q;
      cell.Column = c;
      cell.Frame = {c * out.D + 5, q * out.U + out.T, (c + 1) * out.D, (q + 1) * out.U + out.T - 5};
      const int n = q * 7 + c + 1 - lead;
      cell.Day = firstDay + (n - 1);
      if (n < 1) {
        cell.Kind = cdPrevMonth;
        cell.DayNumber = n + prevLength;
        cell.Color = CalendarSilver;
      } else if (n > length) {
        cell.Kind = cdNextMonth;
        cell.DayNumber = n - length;
        cell.Color = CalendarSilver;
      } else {
        cell.Kind = cdThisMonth;
        cell.DayNumber = n;
        cell.Color = c >= 5 ? CalendarRed : CalendarBlack;
      }
      const int left = cell.Frame.Left, top = cell.Frame.Top;
      for (int h = 0; h < 24; ++h) {
        cell.Bars[static_cast<size_t>(h)] = {left + h * out.J, top + out.U - 2 * h - 5,
                                             left + (h + 1) * out.J, top + out.U - 5};
      }
      cell.TextRight = cell.Frame.Right - 2;
      cell.TextTop = cell.Frame.Top + 1;
    }
  }
  return out;
}
