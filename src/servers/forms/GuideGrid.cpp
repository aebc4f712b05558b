#include "servers/forms/GuideGrid.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>

#include "JFrame/FormRegistry.h"
#include "shell/Databases.h"
#include "shell/TreeDocument.h"
#include "JFrame/QtText.h"

namespace {

TFormRegistration registration("TFormGuideGrid", [](QWidget* parent) -> QWidget* {
  TDbFile* db = DbF1();
  return db ? new TFormGuideGrid(*db, parent) : nullptr;
});

QString Clock(int64_t t, bool seconds) {
  TDateTime d = EpochToLocal(t);
  return Qs(FormatDateTime(seconds ? "hh:nn:ss" : "hh:nn", d));
}

// Blocks get one of a few calm colours by film, so that repeats are seen at a glance.
QColor BlockColour(const std::string& filmID) {
  static const QColor colours[] = {QColor(0xcf, 0xe2, 0xf3), QColor(0xd9, 0xea, 0xd3),
                                   QColor(0xff, 0xf2, 0xcc), QColor(0xea, 0xd1, 0xdc),
                                   QColor(0xd0, 0xe0, 0xe3), QColor(0xfc, 0xe5, 0xcd)};
  return colours[std::hash<std::string>{}(filmID) % (sizeof colours / sizeof colours[0])];
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TGuideGridView::TGuideGridView(QWidget* parent) : QWidget(parent) {
  setObjectName("View");
  setAttribute(Qt::WA_OpaquePaintEvent);
  NowTime = [] { return static_cast<int64_t>(std::time(nullptr)); };
}

void TGuideGridView::SetGrid(TPlanGrid grid) {
  FGrid = std::move(grid);
  SetPixelsPerHour(FPph);
}

void TGuideGridView::SetPixelsPerHour(double pph) {
  FPph = pph;
  int w = NameWidth + static_cast<int>(std::ceil((FGrid.To - FGrid.From) / 3600.0 * FPph)) + 1;
  int h = HeaderHeight + RowHeight * static_cast<int>(FGrid.Channels.size()) + 1;
  setFixedSize(std::max(w, NameWidth + 1), std::max(h, HeaderHeight + 1));
  update();
}

double TGuideGridView::XOf(double t) const {
  return NameWidth + (t - FGrid.From) / 3600.0 * FPph;
}

int64_t TGuideGridView::TimeAt(double x) const {
  return FGrid.From + static_cast<int64_t>(std::llround((x - NameWidth) / FPph * 3600.0));
}

QRect TGuideGridView::BlockRect(size_t channel, size_t block) const {
  const TEpgProgramme& p = FGrid.Blocks[channel][block];
  int x0 = static_cast<int>(std::floor(XOf(p.Start)));
  int x1 = static_cast<int>(std::ceil(XOf(p.Stop)));
  int y = HeaderHeight + static_cast<int>(channel) * RowHeight;
  return QRect(x0, y + 3, std::max(1, x1 - x0), RowHeight - 14);
}

void TGuideGridView::ItemAt(const QPoint& pos, const TEpgProgramme*& block,
                            const TPlanCommand*& mark) const {
  block = nullptr;
  mark = nullptr;
  if (pos.y() < HeaderHeight || pos.x() < NameWidth) return;
  size_t ch = static_cast<size_t>((pos.y() - HeaderHeight) / RowHeight);
  if (ch >= FGrid.Channels.size()) return;
  int yIn = (pos.y() - HeaderHeight) % RowHeight;
  // Marks sit in the lowest strip of a row, and on a command channel anywhere in it.
  if (yIn >= RowHeight - 11 || FGrid.Channels[ch].CommandsOnly) {
    for (const TPlanCommand& c : FGrid.Marks[ch]) {
      if (std::abs(XOf(c.Time) - pos.x()) <= 3) {
        mark = &c;
        return;
      }
    }
  }
  int64_t t = TimeAt(pos.x());
  const auto& blocks = FGrid.Blocks[ch];
  auto it = std::upper_bound(blocks.begin(), blocks.end(), t,
                             [](int64_t v, const TEpgProgramme& p) { return v < p.Start; });
  if (it == blocks.begin()) return;
  --it;
  if (t < it->Stop) block = &*it;
}

bool TGuideGridView::SourceAt(const QPoint& pos, std::string& chSchedID, int& row) const {
  const TEpgProgramme* block = nullptr;
  const TPlanCommand* mark = nullptr;
  ItemAt(pos, block, mark);
  if (mark) {
    chSchedID = mark->SourceID;
    row = static_cast<int>(mark->SourceRow) + 1;
  } else if (block) {
    chSchedID = block->SourceID;
    row = static_cast<int>(block->SourceRow) + 1;
  } else {
    return false;
  }
  return !chSchedID.empty();
}

QString TGuideGridView::HintAt(const QPoint& pos) const {
  const TEpgProgramme* block = nullptr;
  const TPlanCommand* mark = nullptr;
  ItemAt(pos, block, mark);
  if (mark) return Qs(mark->Text) + "\n" + Clock(mark->Time, true);
  if (block)
    return Qs(block->Title) + "\n" + Clock(block->Start, true) + "–" + Clock(block->Stop, true) +
           QString("\nChannel schedule row %1").arg(block->SourceRow + 1);
  return {};
}

bool TGuideGridView::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    QString hint = HintAt(help->pos());
    if (hint.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), hint, this);
    return true;
  }
  return QWidget::event(e);
}

void TGuideGridView::mousePressEvent(QMouseEvent* e) {
  std::string id;
  int row = 0;
  if (e->button() == Qt::LeftButton && SourceAt(e->pos(), id, row) && OnOpenSource)
    OnOpenSource(id, row);
}

void TGuideGridView::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  const QRect clip = e->rect();
  p.fillRect(clip, palette().base());
  const int64_t t0 = std::max(FGrid.From, TimeAt(clip.left()) - 1);
  const int64_t t1 = std::min(FGrid.To, TimeAt(clip.right()) + 1);
  const QColor gapColour(0xe0, 0x40, 0x40);
  QFontMetrics fm(font());

  // Hour lines, and a stronger one at midnight.
  // Hour lines as dense as their labels can be read: at least 64 pixels apart.
  int64_t step = 24 * 3600;
  for (int64_t hours : {1, 2, 3, 6, 12})
    if (hours * FPph >= 64) {
      step = hours * 3600;
      break;
    }
  for (int64_t h = FGrid.From + ((t0 - FGrid.From) / step) * step; h <= t1; h += step) {
    int x = static_cast<int>(XOf(h));
    bool midnight = FormatDateTime("hh:nn", EpochToLocal(h)) == "00:00";
    p.setPen(midnight ? QColor(0x70, 0x70, 0x70) : QColor(0xdd, 0xdd, 0xdd));
    p.drawLine(x, HeaderHeight, x, height());
  }

  for (size_t ch = 0; ch < FGrid.Channels.size(); ++ch) {
    int y = HeaderHeight + static_cast<int>(ch) * RowHeight;
    if (y > clip.bottom() || y + RowHeight < clip.top()) continue;
    const auto& blocks = FGrid.Blocks[ch];
    if (!FGrid.Channels[ch].CommandsOnly) {
      auto first = std::upper_bound(blocks.begin(), blocks.end(), t0,
                                    [](int64_t v, const TEpgProgramme& b) { return v < b.Start; });
      if (first != blocks.begin()) --first;
      for (auto b = first; b != blocks.end() && b->Start <= t1; ++b) {
        QRect r = BlockRect(ch, static_cast<size_t>(b - blocks.begin()));
        p.fillRect(r, BlockColour(b->FilmID));
        // A block of a few pixels is its colour only: borders would turn a row of short
        // clips into one dark bar.
        if (r.width() >= 4) {
          p.setPen(QColor(0x60, 0x60, 0x60));
          p.drawRect(r.adjusted(0, 0, -1, -1));
        }
        if (r.width() > 24) {
          p.setPen(Qt::black);
          QRect text = r.adjusted(3, 1, -2, -1);
          QString times = Clock(b->Start, false) + "–" + Clock(b->Stop, false);
          p.drawText(text, Qt::AlignLeft | Qt::AlignTop, fm.elidedText(Qs(b->Title), Qt::ElideRight, text.width()));
          p.drawText(text, Qt::AlignLeft | Qt::AlignBottom, fm.elidedText(times, Qt::ElideRight, text.width()));
        }
      }
      // Off the air, over the blocks so that a gap of seconds stays in sight at any zoom.
      // Measured on the times before their rounding to the second, with the check's tolerance,
      // so that the grid shows red exactly where the check tells a gap.
      auto offAir = [&](double from, double to) {
        if (to - from <= OffAirToleranceSeconds + 1e-6) return;
        p.fillRect(QRectF(XOf(from), y + 3, std::max(2.0, XOf(to) - XOf(from)), RowHeight - 14), gapColour);
      };
      double cursor = static_cast<double>(t0);
      auto it = std::upper_bound(blocks.begin(), blocks.end(), t0,
                                 [](int64_t v, const TEpgProgramme& b) { return v < b.Start; });
      if (it != blocks.begin()) --it;
      for (; it != blocks.end() && it->Start <= t1; ++it) {
        if (it->ExactStart > cursor) offAir(cursor, it->ExactStart);
        cursor = std::max(cursor, it->ExactStop);
      }
      if (cursor < static_cast<double>(t1)) offAir(cursor, static_cast<double>(t1));
    }
    // Commands: a small triangle on the row's lowest strip.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x50, 0xa0));
    const auto& marks = FGrid.Marks[ch];
    auto m = std::lower_bound(marks.begin(), marks.end(), t0,
                              [](const TPlanCommand& c, int64_t v) { return c.Time < v; });
    for (; m != marks.end() && m->Time <= t1; ++m) {
      double x = XOf(m->Time);
      QPointF tri[3] = {QPointF(x, y + RowHeight - 11), QPointF(x - 4, y + RowHeight - 3),
                        QPointF(x + 4, y + RowHeight - 3)};
      p.drawPolygon(tri, 3);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(0xcc, 0xcc, 0xcc));
    p.drawLine(clip.left(), y + RowHeight - 1, clip.right(), y + RowHeight - 1);
  }

  // The current time.
  int64_t now = NowTime ? NowTime() : 0;
  if (now >= FGrid.From && now <= FGrid.To) {
    p.setPen(QPen(QColor(0x00, 0x90, 0x30), 2));
    int x = static_cast<int>(XOf(now));
    p.drawLine(x, HeaderHeight, x, height());
  }

  // The time header and the channel names stay in view while the grid scrolls under them.
  const int left = FPinned ? std::max(0, -pos().x()) : 0;
  const int topY = FPinned ? std::max(0, -pos().y()) : 0;
  p.fillRect(QRect(clip.left(), topY, clip.width(), HeaderHeight), palette().window());
  p.setPen(palette().windowText().color());
  for (int64_t h = FGrid.From + ((t0 - FGrid.From) / step) * step; h <= t1; h += step) {
    int x = static_cast<int>(XOf(h));
    TDateTime d = EpochToLocal(h);
    bool midnight = FormatDateTime("hh:nn", d) == "00:00";
    QString label = midnight ? Qs(FormatDateTime("dd.mm", d)) : Clock(h, false);
    p.drawLine(x, topY + HeaderHeight - 6, x, topY + HeaderHeight);
    p.drawText(QRect(x + 3, topY, 80, HeaderHeight - 4), Qt::AlignLeft | Qt::AlignVCenter, label);
  }
  p.fillRect(QRect(left, topY, NameWidth, height()), palette().window());
  for (size_t ch = 0; ch < FGrid.Channels.size(); ++ch) {
    int y = HeaderHeight + static_cast<int>(ch) * RowHeight;
    if (y < topY + HeaderHeight - RowHeight) continue;
    if (y < topY + HeaderHeight) continue;
    QRect r(left + 6, y, NameWidth - 10, RowHeight);
    p.setPen(palette().windowText().color());
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(Qs(FGrid.Channels[ch].Name), Qt::ElideRight, r.width()));
  }
  p.setPen(QColor(0x90, 0x90, 0x90));
  p.drawLine(left + NameWidth - 1, topY, left + NameWidth - 1, height());
  p.drawLine(left, topY + HeaderHeight - 1, clip.right(), topY + HeaderHeight - 1);
}

// ---------------------------------------------------------------------------------------------

TFormGuideGrid::TFormGuideGrid(TDbFile& db, QWidget* parent) : QWidget(parent), FDb(db) {
  setObjectName("TFormGuideGrid");
  setWindowTitle("Guide grid");
  ComboSource = new QComboBox(this);
  ComboSource->setObjectName("ComboSource");
  DateFrom = new QDateEdit(QDate::currentDate(), this);
  DateFrom->setObjectName("DateFrom");
  DateFrom->setDisplayFormat("dd.MM.yyyy");
  DateFrom->setCalendarPopup(true);
  SpinDays = new QSpinBox(this);
  SpinDays->setObjectName("SpinDays");
  SpinDays->setRange(1, 31);
  SpinDays->setValue(7);
  SpinDays->setSuffix(" days");
  BtnDay = new QPushButton("Day", this);
  BtnDay->setObjectName("BtnDay");
  BtnWeek = new QPushButton("Week", this);
  BtnWeek->setObjectName("BtnWeek");
  BtnExport = new QPushButton("Export PNG...", this);
  BtnExport->setObjectName("BtnExport");
  auto* top = new QHBoxLayout;
  top->addWidget(ComboSource, 1);
  top->addWidget(DateFrom);
  top->addWidget(SpinDays);
  top->addWidget(BtnDay);
  top->addWidget(BtnWeek);
  top->addWidget(BtnExport);

  View = new TGuideGridView;
  ScrollBox = new QScrollArea(this);
  ScrollBox->setObjectName("ScrollBox");
  ScrollBox->setWidget(View);
  ScrollBox->setWidgetResizable(false);
  // The pinned header and names move with the scroll position: repaint on every step.
  connect(ScrollBox->horizontalScrollBar(), &QScrollBar::valueChanged, View, qOverload<>(&QWidget::update));
  connect(ScrollBox->verticalScrollBar(), &QScrollBar::valueChanged, View, qOverload<>(&QWidget::update));
  LabelStatus = new QLabel(this);
  LabelStatus->setObjectName("LabelStatus");

  auto* lay = new QVBoxLayout(this);
  lay->addLayout(top);
  lay->addWidget(ScrollBox, 1);
  lay->addWidget(LabelStatus);
  resize(1100, 520);

  if (FDb.DbIsOpen()) {
    for (const char* coll : {"Servers", "Schedules"}) {
      TDbCollectionItem& c = FDb.CollectionByName(coll);
      for (const TTreeListEntry& e : ListInTreeOrder(FDb, c))
        if (!e.IsFolder)
          ComboSource->addItem(QString("%1: %2").arg(coll == std::string("Servers") ? "Server" : "Schedules", Qs(e.Name)),
                               QStringList{coll, Qs(e.ID)});
    }
  }
  View->OnOpenSource = [this](const std::string& id, int row) {
    OpenRecordOnRow(FDb.CollectionByName("ChSched"), id, row);
  };
  connect(ComboSource, &QComboBox::currentIndexChanged, this, [this] { Rebuild(); });
  connect(DateFrom, &QDateEdit::dateChanged, this, [this] { Rebuild(); });
  connect(SpinDays, &QSpinBox::valueChanged, this, [this] { Rebuild(); });
  auto zoom = [this](double pph) {
    // Keep the moment at the left edge in view.
    int64_t t = View->TimeAt(ScrollBox->horizontalScrollBar()->value() + TGuideGridView::NameWidth);
    View->SetPixelsPerHour(pph);
    ScrollBox->horizontalScrollBar()->setValue(static_cast<int>(View->XOf(t)) - TGuideGridView::NameWidth);
  };
  connect(BtnDay, &QPushButton::clicked, this, [this, zoom] {
    zoom(std::max(20.0, (ScrollBox->viewport()->width() - TGuideGridView::NameWidth) / 24.0));
  });
  connect(BtnWeek, &QPushButton::clicked, this, [this, zoom] {
    zoom(std::max(2.0, (ScrollBox->viewport()->width() - TGuideGridView::NameWidth) / (24.0 * 7)));
  });
  connect(BtnExport, &QPushButton::clicked, this, [this] {
    QString f = QFileDialog::getSaveFileName(this, "Export PNG", "guide.png", "PNG (*.png)");
    if (!f.isEmpty()) ExportPng(f.toStdString());
  });
  Rebuild();
}

bool TFormGuideGrid::ShowPlan(const std::string& collection, const std::string& id) {
  for (int i = 0; i < ComboSource->count(); ++i) {
    QStringList d = ComboSource->itemData(i).toStringList();
    if (d.size() == 2 && d[0].toStdString() == collection && d[1].toStdString() == id) {
      if (ComboSource->currentIndex() != i) {
        ComboSource->setCurrentIndex(i);  // rebuilds
      } else {
        Rebuild();
      }
      return LabelStatus->property("ok").toBool();
    }
  }
  LabelStatus->setText("Invalid reference.");
  LabelStatus->setProperty("ok", false);
  return false;
}

void TFormGuideGrid::Rebuild() {
  QStringList d = ComboSource->currentData().toStringList();
  LabelStatus->setProperty("ok", false);
  if (d.size() != 2) {
    View->SetGrid({});
    LabelStatus->setText("No server or schedule to show.");
    return;
  }
  QDate day = DateFrom->date();
  TDateTime from = EncodeDate(day.year(), static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  int64_t a = LocalToEpoch(from);
  int64_t b = LocalToEpoch(from + SpinDays->value());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    std::string coll = d[0].toStdString(), id = d[1].toStdString();
    TPlanGrid g = coll == "Servers" ? ServerPlanGrid(FDb, id, a, b, AppOperator())
                                    : SchedulePlanGrid(FDb, id, from, a, b, AppOperator());
    size_t blocks = 0, marks = 0;
    for (const auto& v : g.Blocks) blocks += v.size();
    for (const auto& v : g.Marks) marks += v.size();
    View->SetGrid(std::move(g));
    LabelStatus->setText(QString("%1 channels, %2 programmes, %3 commands. Click a block to open its channel schedule row.")
                             .arg(View->Grid().Channels.size())
                             .arg(blocks)
                             .arg(marks));
    LabelStatus->setProperty("ok", true);
  } catch (const std::exception& e) {
    View->SetGrid({});
    LabelStatus->setText(Qs(e.what()));
  }
  QApplication::restoreOverrideCursor();
}

bool TFormGuideGrid::ExportPng(const std::string& path) {
  QImage img(View->size(), QImage::Format_RGB32);
  img.fill(Qt::white);
  View->SetPinned(false);
  {
    QPainter p(&img);
    View->render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
  }
  View->SetPinned(true);
  bool ok = img.save(Qs(path), "PNG");
  LabelStatus->setText(ok ? Qs("Saved in " + path) : Qs("Can't to write to file " + path));
  return ok;
}
