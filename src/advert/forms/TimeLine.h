#pragma once
// The "Time Line" window: a month calendar of one place's bookings. Every day cell has 24 hour
// bars; an hour with bookings is drawn in the booking colour, as high as its spots ask for, and
// its hint lists the contracts booked there. Beside the calendar, the hour mixes of the days of
// the chosen date range with their bookings.
#include <QWidget>
#include <optional>

#include "advert/TimeLineCalendar.h"
#include "advert/TimeLineView.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTextEdit;
class TFormTimeLine;

// The painted calendar (the window's client area below its top panel).
class TTimeLineCalendarView : public QWidget {
  Q_OBJECT
public:
  explicit TTimeLineCalendarView(TFormTimeLine* form);
  // The geometry of the current size and month.
  TCalendarLayout Layout() const;
  // The cell and hour under a point (nullopt outside the cells).
  std::optional<std::pair<int, int>> CellAndHourAt(const QPoint& p) const;
  // The rectangle painted for hour H of cell C when it holds Spots spots (0: none).
  QRect BarRect(const TCalendarCell& cell, int h, int64_t spots) const;

protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent* e) override;
  bool event(QEvent* e) override;

private:
  TFormTimeLine* FForm;
};

inline constexpr QRgb TimeLineBookingColor = 0xFF1F5FA8;

class TFormTimeLine : public QWidget {
  Q_OBJECT
public:
  // Contracts (places, contract names) and TimeLine default to the console's; MainDb gives the
  // films' names.
  explicit TFormTimeLine(QWidget* parent = nullptr, TDbFile* contracts = nullptr,
                         TDbFile* timeLine = nullptr, TDbFile* mainDb = nullptr);
  ~TFormTimeLine() override;

  QWidget* PanelTop;
  QPushButton* BtnPrev;  // "<<"
  QLabel* LabelMonth;    // "mmmm yyyy"
  QPushButton* BtnNext;  // ">>"
  QComboBox* ComboPlace;
  QDateEdit* DateFrom;
  QDateEdit* DateTo;
  TTimeLineCalendarView* Calendar;
  QTextEdit* MemoMixes;

  void FormCreate();
  void BtnPrevClick();
  void BtnNextClick();
  // Reads the time line again and repaints (after a contract was added or deleted).
  void Redrow();
  // Shows Year/Month; the date range becomes the month.
  void ShowMonth(int year, unsigned month);
  // The chosen place ("" when there is none).
  std::string PlaceID() const;
  void SetPlace(const std::string& placeID);
  // The bookings of the chosen place on a day (TDateTime day number).
  TBookedDay DayBookings(int64_t day) const;
  // The hint of hour H of a day.
  QString HourHint(int64_t day, int h) const;
  int Year() const { return FYear; }
  unsigned Month() const { return FMonth; }

private:
  friend class TTimeLineCalendarView;
  void FillPlaces();
  void FillMixes();
  std::string ContractName(const std::string& id) const;
  std::string FilmName(const std::string& id) const;

  TDbFile* FContracts;
  TDbFile* FTimeLine;
  TDbFile* FMainDb;
  int FYear = 2000;
  unsigned FMonth = 1;
  int FListener = 0;
  bool FFilling = false;
};
