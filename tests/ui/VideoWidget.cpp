// The player's picture widget: the 16:9 fitting, and a window destroyed while player events
// are still queued (the queued calls are dropped instead of reaching a freed player).
#include <QTest>
#include <chrono>
#include <thread>

#include "catalogue/forms/VideoWidget.h"
#include "support/TestSupport.h"

class TVideoWidgetTest : public QObject {
  Q_OBJECT
private slots:
  void FitRatioShrinksTheLongerSide() {
    struct TCase {
      QSize Avail, Expected;
    };
    const TCase cases[] = {
        {{1600, 450}, {800, 450}},   // too wide: width shrinks
        {{640, 720}, {640, 360}},    // too high: height shrinks
        {{1280, 720}, {1280, 720}},  // exact
        {{0, 100}, {0, 100}},        // nothing to fit
    };
    for (const TCase& c : cases)
      QCOMPARE(TVideoWidget::FitRatio(c.Avail, TVideoWidget::KRatio169), c.Expected);
  }

  // An error event queued for a player that is gone is dropped; the same event for a living
  // player arrives.
  void EventsQueuedForADestroyedPlayerAreDropped() {
    TScopedFakeOperator op;
    int livingErrors = 0, deadErrors = 0;
    auto living = std::make_unique<TVideoWidget>();
    auto dead = std::make_unique<TVideoWidget>();
    QVERIFY(dead->OwnsPlayer());
    living->Player().OnMediaPlayerEncounteredError = [&] { ++livingErrors; };
    dead->Player().OnMediaPlayerEncounteredError = [&] { ++deadErrors; };
    living->Player().Play("/nonexistent/film.m2t");
    dead->Player().Play("/nonexistent/film.m2t");
    // Both players fail on libvlc's threads; their events wait in the queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    dead.reset();
    op.RunQueued();
    QCOMPARE(deadErrors, 0);
    QCOMPARE(livingErrors, 1);
  }

  // A widget shown on a player it does not own leaves the player usable when it goes.
  void AGivenPlayerOutlivesItsWidget() {
    TScopedFakeOperator op;
    TPasLibVlcPlayer player;
    {
      TVideoWidget w(nullptr, &player);
      QVERIFY(!w.OwnsPlayer());
      QCOMPARE(&w.Player(), &player);
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
    }
    QCOMPARE(player.GetState() == plvPlayer_Playing, false);
  }
};

QTEST_MAIN(TVideoWidgetTest)
#include "VideoWidget.moc"
