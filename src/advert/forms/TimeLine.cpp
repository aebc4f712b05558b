#include "advert/forms/TimeLine.h"

#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTextEdit>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "JFrame/FormRegistry.h"
#include "advert/forms/Contracts.h"
#include "base/CommonProcedures.h"
#include "shell/Databases.h"
#include "JFrame/QtText.h"

namespace {

TFormRegistration registration("TFormTimeLine", [](QWidget* parent) -> QWidget* {
  return new TFormTimeLine(parent);
});


QColor ColorOf(uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(0xFF000000u | rgb)); }

QDate ToQDate(int64_t day) {
  TDateParts p = DecodeDate(static_cast<TDateTime>(day));
  return QDate(p.Year, static_cast<int>(p.Month), static_cast<int>(p.Day));
}

int64_t FromQDate(const QDate& d) {
  auto v = TryEncodeDate(d.year(), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
  return v ? DayCount(*v) : 0;
}

QFont CalendarFont(const QWidget* w) {
  QFont f = w->font();
  f.setPointSize(10);
  return f;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The calendar

TTimeLineCalendarView::TTimeLineCalendarView(TFormTimeLine* form) : QWidget(form), FForm(form) {
  setObjectName("Calendar");
  setMouseTracking(true);
  setMinimumSize(560, 360);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TCalendarLayout TTimeLineCalendarView::Layout() const {
  TCalendarInput in;
  in.Year = FForm->FYear;
  in.Month = FForm->FMonth;
  in.ClientWidth = width();
  in.ClientHeight = height();
  in.PanelHeight = 0;  // the panel with "<<" and ">>" lies above this widget
  in.TextHeight = QFontMetrics(CalendarFont(this)).height();
  return CalendarLayout(in);
}

QRect TTimeLineCalendarView::BarRect(const TCalendarCell& cell, int h, int64_t spots) const {
  const TCalendarRect& bar = cell.Bars[static_cast<size_t>(h)];
  if (spots <= 0) return QRect(QPoint(bar.Left, bar.Top), QPoint(bar.Right - 1, bar.Bottom - 1));
  // A booked hour rises with its spots, up to below the day number.
  const int textHeight = QFontMetrics(CalendarFont(this)).height();
  const int room = std::max(2, bar.Bottom - (cell.Frame.Top + textHeight + 2));
  const int height = static_cast<int>(std::min<int64_t>(room, 4 + 4 * spots));
  return QRect(QPoint(bar.Left, bar.Bottom - height), QPoint(bar.Right - 1, bar.Bottom - 1));
}

void TTimeLineCalendarView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Base));
  p.setFont(CalendarFont(this));
  const TCalendarLayout lay = Layout();
  const QFontMetrics fm(p.font());
  for (const TCalendarHeader& h : lay.Headers) {
    p.setPen(ColorOf(h.Color));
    const QString text = Qs(h.Text);
    p.drawText(h.Right - fm.horizontalAdvance(text), h.Top + fm.ascent(), text);
  }
  TPlaceBookings bookings(*FForm->FTimeLine, FForm->PlaceID());
  for (const TCalendarCell& cell : lay.Cells) {
    const QColor color = ColorOf(cell.Color);
    p.setPen(color);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(QPoint(cell.Frame.Left, cell.Frame.Top),
                     QPoint(cell.Frame.Right - 1, cell.Frame.Bottom - 1)));
    const TBookedDay day = bookings.Known() ? bookings.Day(cell.Day) : TBookedDay{};
    QColor free = color;
    free.setAlpha(60);  // the hour scale, faint
    for (int h = 0; h < 24; ++h) {
      const int64_t spots = day[static_cast<size_t>(h)].Spots;
      const QRect bar = BarRect(cell, h, spots);
      if (bar.width() <= 0 || bar.height() <= 0) continue;
      p.fillRect(bar, spots > 0 ? QColor::fromRgb(TimeLineBookingColor) : free);
    }
    p.setPen(color);
    const QString number = QString::number(cell.DayNumber);
    p.drawText(cell.TextRight - fm.horizontalAdvance(number), cell.TextTop + fm.ascent(), number);
  }
}

std::optional<std::pair<int, int>> TTimeLineCalendarView::CellAndHourAt(const QPoint& pt) const {
  const TCalendarLayout lay = Layout();
  for (size_t i = 0; i < lay.Cells.size(); ++i) {
    const TCalendarCell& c = lay.Cells[i];
    if (pt.x() < c.Frame.Left || pt.x() >= c.Frame.Right || pt.y() < c.Frame.Top ||
        pt.y() >= c.Frame.Bottom)
      continue;
    int h = lay.J > 0 ? (pt.x() - c.Frame.Left) / lay.J : 0;
    return std::make_pair(static_cast<int>(i), std::clamp(h, 0, 23));
  }
  return std::nullopt;
}

bool TTimeLineCalendarView::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    auto at = CellAndHourAt(help->pos());
    if (!at) {
      QToolTip::hideText();
      e->ignore();
      return true;
    }
    const TCalendarLayout lay = Layout();
    QToolTip::showText(help->globalPos(),
                       FForm->HourHint(lay.Cells[static_cast<size_t>(at->first)].Day, at->second),
                       this);
    return true;
  }
  return QWidget::event(e);
}

void TTimeLineCalendarView::mouseMoveEvent(QMouseEvent* e) { QWidget::mouseMoveEvent(e); }

void TTimeLineCalendarView::leaveEvent(QEvent* e) {
  QToolTip::hideText();
  QWidget::leaveEvent(e);
}

void TTimeLineCalendarView::mousePressEvent(QMouseEvent* e) {
  auto at = CellAndHourAt(e->position().toPoint());
  if (!at) return;
  // A day clicked: its hours are listed beside the calendar.
  const QDate d = ToQDate(Layout().Cells[static_cast<size_t>(at->first)].Day);
  FForm->FFilling = true;
  FForm->DateFrom->setDate(d);
  FForm->DateTo->setDate(d);
  FForm->FFilling = false;
  FForm->FillMixes();
}

// ---------------------------------------------------------------------------------------------
// The window

TFormTimeLine::TFormTimeLine(QWidget* parent, TDbFile* contracts, TDbFile* timeLine, TDbFile* mainDb)
    : QWidget(parent),
      FContracts(contracts ? contracts : ContractsDb()),
      FTimeLine(timeLine ? timeLine : TimeLineDb()),
      FMainDb(mainDb ? mainDb : DbF1()) {
  setObjectName("FormTimeLine");
  setWindowTitle("Time Line");
  resize(1100, 620);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  PanelTop = new QWidget(this);
  PanelTop->setObjectName("PanelTop");
  auto* top = new QHBoxLayout(PanelTop);
  top->setContentsMargins(0, 0, 0, 0);
  BtnPrev = new QPushButton("<<", PanelTop);
  BtnPrev->setObjectName("BtnPrev");
  LabelMonth = new QLabel(PanelTop);
  LabelMonth->setObjectName("LabelMonth");
  LabelMonth->setMinimumWidth(140);
  LabelMonth->setAlignment(Qt::AlignCenter);
  QFont bold = LabelMonth->font();
  bold.setBold(true);
  LabelMonth->setFont(bold);
  BtnNext = new QPushButton(">>", PanelTop);
  BtnNext->setObjectName("BtnNext");
  ComboPlace = new QComboBox(PanelTop);
  ComboPlace->setObjectName("ComboPlace");
  ComboPlace->setMinimumWidth(180);
  DateFrom = new QDateEdit(PanelTop);
  DateFrom->setObjectName("DateFrom");
  DateFrom->setDisplayFormat("dd.MM.yyyy");
  DateFrom->setCalendarPopup(true);
  DateTo = new QDateEdit(PanelTop);
  DateTo->setObjectName("DateTo");
  DateTo->setDisplayFormat("dd.MM.yyyy");
  DateTo->setCalendarPopup(true);
  top->addWidget(BtnPrev);
  top->addWidget(LabelMonth);
  top->addWidget(BtnNext);
  top->addSpacing(16);
  top->addWidget(new QLabel("Place", PanelTop));
  top->addWidget(ComboPlace);
  top->addSpacing(16);
  top->addWidget(new QLabel("From", PanelTop));
  top->addWidget(DateFrom);
  top->addWidget(new QLabel("To", PanelTop));
  top->addWidget(DateTo);
  top->addStretch(1);
  layout->addWidget(PanelTop);

  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName("Splitter");
  Calendar = new TTimeLineCalendarView(this);
  split->addWidget(Calendar);
  MemoMixes = new QTextEdit(split);
  MemoMixes->setObjectName("MemoMixes");
  MemoMixes->setReadOnly(true);
  split->addWidget(MemoMixes);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  split->setSizes({800, 280});
  layout->addWidget(split, 1);

  connect(BtnPrev, &QPushButton::clicked, this, &TFormTimeLine::BtnPrevClick);
  connect(BtnNext, &QPushButton::clicked, this, &TFormTimeLine::BtnNextClick);
  connect(ComboPlace, &QComboBox::currentIndexChanged, this, [this] {
    if (FFilling) return;
    Calendar->update();
    FillMixes();
  });
  connect(DateFrom, &QDateEdit::dateChanged, this, [this] {
    if (!FFilling) FillMixes();
  });
  connect(DateTo, &QDateEdit::dateChanged, this, [this] {
    if (!FFilling) FillMixes();
  });
  FListener = AddTimeLineListener([this] { Redrow(); });
  FormCreate();
}

TFormTimeLine::~TFormTimeLine() { RemoveTimeLineListener(FListener); }

void TFormTimeLine::FormCreate() {
  TDateParts today = DecodeDate(Now());
  FillPlaces();
  ShowMonth(today.Year, today.Month);
}

void TFormTimeLine::ShowMonth(int year, unsigned month) {
  FYear = year;
  FMonth = month;
  LabelMonth->setText(Qs(FormatDateTime("mmmm yyyy", EncodeDate(year, month, 1))));
  FFilling = true;
  const QDate first(year, static_cast<int>(month), 1);
  DateFrom->setDate(first);
  DateTo->setDate(first.addDays(first.daysInMonth() - 1));
  FFilling = false;
  Calendar->update();
  FillMixes();
}

void TFormTimeLine::BtnPrevClick() {
  int y = FYear;
  unsigned m = FMonth;
  StepCalendarMonth(y, m, -1);
  ShowMonth(y, m);
}

void TFormTimeLine::BtnNextClick() {
  int y = FYear;
  unsigned m = FMonth;
  StepCalendarMonth(y, m, 1);
  ShowMonth(y, m);
}

void TFormTimeLine::Redrow() {
  FillPlaces();
  Calendar->update();
  FillMixes();
}

std::string TFormTimeLine::PlaceID() const {
  return ComboPlace->currentData().toString().toStdString();
}

void TFormTimeLine::SetPlace(const std::string& placeID) {
  int i = ComboPlace->findData(Qs(placeID));
  if (i >= 0) ComboPlace->setCurrentIndex(i);
}

void TFormTimeLine::FillPlaces() {
  const std::string current = PlaceID();
  FFilling = true;
  ComboPlace->clear();
  std::vector<std::string> ids;
  if (FContracts) {
    const TJson& doc = FContracts->JSON();
    auto places = doc.is_object() ? doc.find("Places") : doc.end();
    if (places != doc.end() && places->is_object()) {
      for (auto it = places->begin(); it != places->end(); ++it) {
        std::string name = it->is_object() ? JsonStr(*it, "Name") : std::string();
        ComboPlace->addItem(Qs(name.empty() ? it.key() : name), Qs(it.key()));
        ids.push_back(it.key());
      }
    }
  }
  // Places removed from contracts.json may still have bookings.
  if (FTimeLine && FTimeLine->JSON().is_object()) {
    for (auto it = FTimeLine->JSON().begin(); it != FTimeLine->JSON().end(); ++it) {
      if (!it->is_object() || it.key() == "Contracts" || it.key() == "DBVersion") continue;
      if (std::find(ids.begin(), ids.end(), it.key()) != ids.end()) continue;
      ComboPlace->addItem(Qs(it.key()) + " (removed)", Qs(it.key()));
    }
  }
  int i = ComboPlace->findData(Qs(current));
  ComboPlace->setCurrentIndex(i >= 0 ? i : (ComboPlace->count() > 0 ? 0 : -1));
  FFilling = false;
}

TBookedDay TFormTimeLine::DayBookings(int64_t day) const {
  if (!FTimeLine) return {};
  TPlaceBookings bookings(*FTimeLine, PlaceID());
  return bookings.Day(day);
}

std::string TFormTimeLine::ContractName(const std::string& id) const {
  for (TDbFile* db : {FContracts, FTimeLine}) {
    if (!db || !db->JSON().is_object()) continue;
    auto coll = db->JSON().find("Contracts");
    if (coll == db->JSON().end() || !coll->is_object()) continue;
    auto rec = coll->find(id);
    if (rec != coll->end() && rec->is_object() && !JsonStr(*rec, "Name").empty())
      return JsonStr(*rec, "Name");
  }
  return id;
}

std::string TFormTimeLine::FilmName(const std::string& id) const {
  if (!FMainDb || !FMainDb->DbIsOpen() || id.empty()) return id;
  for (const char* coll : {"Films", "PlayLists"}) {
    try {
      TDbCollectionItem* c = FMainDb->FindCollection(coll);
      if (!c) continue;
      auto rec = c->GetRecord(id);
      if (rec && rec->is_object()) return JsonStr(*rec, "Name");
    } catch (const std::exception&) {
    }
  }
  return id;
}

QString TFormTimeLine::HourHint(int64_t day, int h) const {
  const TBookedHour hour = DayBookings(day)[static_cast<size_t>(h)];
  QString text = Qs(DateToStr(static_cast<TDateTime>(day))) +
                 QString("  %1:00-%2:00").arg(h, 2, 10, QChar('0')).arg(h + 1, 2, 10, QChar('0'));
  if (hour.Bookings.empty()) return text + "\nfree";
  for (const auto& b : hour.Bookings)
    text += "\n" + Qs(ContractName(b.Contr)) + ": " + Qs(FilmName(b.Film)) + " x" +
            QString::number(b.Count);
  return text;
}

void TFormTimeLine::FillMixes() {
  if (!FTimeLine) {
    MemoMixes->setPlainText("The time line database is not available.");
    return;
  }
  const std::string place = PlaceID();
  TPlaceBookings bookings(*FTimeLine, place);
  if (place.empty() || !bookings.Known()) {
    MemoMixes->setPlainText(place.empty() ? "No place." : "Nothing is booked at this place.");
    return;
  }
  int64_t from = FromQDate(DateFrom->date()), to = FromQDate(DateTo->date());
  QString text;
  int days = 0;
  for (const std::string& id : bookings.DayIDs()) {
    int64_t day = 0;
    if (!DayOfRecordID(id, day) || day < from || day > to) continue;
    const TBookedDay hours = bookings.Day(day);
    QString lines;
    for (int h = 0; h < 24; ++h) {
      const TBookedHour& hour = hours[static_cast<size_t>(h)];
      if (hour.Mix < 0) continue;
      QStringList list;
      for (const auto& b : hour.Bookings)
        list << Qs(ContractName(b.Contr)) + " " + Qs(FilmName(b.Film)) + " x" + QString::number(b.Count);
      lines += QString("  %1:00  mix %2  %3\n").arg(h, 2, 10, QChar('0')).arg(hour.Mix).arg(list.join("; "));
    }
    if (lines.isEmpty()) continue;
    ++days;
    text += Qs(DateToStr(static_cast<TDateTime>(day))) + "\n" + lines;
  }
  if (days == 0) text = "Nothing is booked in these days.\n";
  const TJson& table = bookings.HourMixes();
  text += QString("\nHour mixes (%1):\n").arg(table.size());
  for (size_t k = 0; k < table.size(); ++k) {
    QStringList list;
    for (const auto& b : bookings.MixBookings(static_cast<int>(k)))
      list << Qs(ContractName(b.Contr)) + " x" + QString::number(b.Count);
    const int64_t cntr = table[k].is_object() ? JsonInt(table[k], "Cntr") : 0;
    text += QString("  %1  Cntr %2%3  %4\n")
                .arg(k)
                .arg(cntr)
                .arg(cntr == 0 ? " (free)" : "")
                .arg(list.join("; "));
  }
  MemoMixes->setPlainText(text);
}
