#pragma once
// The month calendar of the "Time Line" window as geometry: what to paint where, so that the
// window only paints what this returns.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TCalendarRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TCalendarRect&) const = default;
};

// Colours as 0xRRGGBB.
inline constexpr uint32_t CalendarBlack = 0x000000;
inline constexpr uint32_t CalendarRed = 0xFF0000;
inline constexpr uint32_t CalendarSilver = 0xC0C0C0;  // days of the neighbouring months

enum TCalendarDayKind { cdPrevMonth, cdThisMonth, cdNextMonth };

struct TCalendarCell {
  int Row = 0;     // week row 0..5
  int Column = 0;  // 0 Monday ... 6 Sunday
  TCalendarRect Frame;
  int DayNumber = 0;  // the day of its month
  TCalendarDayKind Kind = cdThisMonth;
  uint32_t Color = CalendarBlack;
  int64_t Day = 0;  // day number (TDateTime) of the cell's date
  std::array<TCalendarRect, 24> Bars{};  // bar h: heights 0, 2, 4, ... pixels
  int TextRight = 0;  // the day number is written right-aligned ending here ...
  int TextTop = 0;    // ... with its top here
};

struct TCalendarHeader {
  std::string Text;  // short day name
  int Right = 0;     // right-aligned ending here
  int Top = 0;
  uint32_t Color = CalendarBlack;
};

struct TCalendarLayout {
  std::string Caption;  // "mmmm yyyy"
  int T = 0;  // top of the first week row: panel height + text height
  int J = 0;  // width of one hour's bar
  int D = 0;  // width of a day column
  int U = 0;  // height of a week row
  std::array<TCalendarHeader, 7> Headers;
  std::array<TCalendarCell, 42> Cells;  // row by row, Monday first
};

struct TCalendarInput {
  int Year = 2000;
  unsigned Month = 1;
  int ClientWidth = 0;
  int ClientHeight = 0;
  int PanelHeight = 0;  // the top panel with "<<", the caption and ">>"
  int TextHeight = 0;   // height of the text "1" in the canvas font (size 10)
};

TCalendarLayout CalendarLayout(const TCalendarInput& in);

// The month shown after "<<" (-1) or ">>" (+1).
void StepCalendarMonth(int& year, unsigned& month, int by);
