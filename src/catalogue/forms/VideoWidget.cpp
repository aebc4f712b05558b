#include "catalogue/forms/VideoWidget.h"

#include <QGuiApplication>
#include <QPainter>
#include <QShowEvent>
#include <cmath>

#include "JFrame/SharedWidgets.h"

namespace {

bool X11Platform() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

// Control panels show their players' pictures in this widget.
const bool videoViewLent = [] {
  SetVideoViewFactory([](QWidget* parent, TPasLibVlcPlayer** player) -> QWidget* {
    auto* view = new TVideoWidget(parent);
    *player = &view->Player();
    return view;
  });
  return true;
}();

}  // namespace

void TVideoWidget::PrepareLibVlc() {
  if (!X11Platform()) SetLibVlcHeadless(true);
}

TVideoWidget::TVideoWidget(QWidget* parent, TPasLibVlcPlayer* player) : QWidget(parent) {
  setObjectName("VideoWidget");
  PrepareLibVlc();
  if (!player) {
    FOwned = std::make_unique<TPasLibVlcPlayer>();
    player = FOwned.get();
  }
  FPlayer = player;
  setMinimumSize(32, 18);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);
  if (X11Platform()) {
    // libvlc draws into a window of its own inside this native one; X11 keeps our black
    // background painting out of that child window.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
  }
}

TVideoWidget::~TVideoWidget() {
  // The window goes away with this widget: a player that lives on must not draw into it.
  if (FPlayer && FWindowHanded && !FOwned) {
    FPlayer->Stop();
    FPlayer->SetVideoWindow(0);
  }
  FOwned.reset();
}

void TVideoWidget::HandWindow() {
  if (FWindowHanded || !X11Platform()) return;
  WId id = winId();
  if (!id) return;
  FPlayer->SetVideoWindow(static_cast<uint32_t>(id));
  FWindowHanded = true;
}

void TVideoWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  HandWindow();
}

void TVideoWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
}

QSize TVideoWidget::FitRatio(const QSize& avail, double ratio) {
  if (ratio <= 0 || avail.width() <= 0 || avail.height() <= 0) return avail;
  int w = avail.width(), h = avail.height();
  if (w > std::lround(h * ratio))
    w = static_cast<int>(std::lround(h * ratio));
  else
    h = static_cast<int>(std::lround(w / ratio));
  return QSize(w, h);
}
