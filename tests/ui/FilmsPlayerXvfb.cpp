// The films window's player on a real X server (Xvfb, started by the test command): a generated
// clip plays in the window, the position label and time bar advance, and libvlc's X11 output
// draws a picture that is not black into the widget's window.
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>

#include "JFrame/FloatSpin.h"
#include "catalogue/forms/Films.h"
#include "catalogue/forms/VideoWidget.h"
#include "ui/UiProject.h"

namespace fs = std::filesystem;

class TFilmsPlayerXvfbTest : public QObject {
  Q_OBJECT
private slots:
  void AClipPlaysWithAPictureAndAMovingPosition() {
    if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X server (run under xvfb-run)");
    TUiProject p;
    std::string root = (p.Tmp.Path() / "video").string();
    fs::create_directories(root);
    std::string clip = root + "/bars.m2t";
    std::string cmd = "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=8:size=640x360:rate=25 "
                      "-f mpegts -c:v mpeg2video -b:v 2000k -y '" + clip + "' 2>/dev/null";
    QVERIFY(std::system(cmd.c_str()) == 0);
    p.Coll("Films").NewRecord("f1", TJson{{"Name", "Bars"}, {"FileName", "bars.m2t"},
                                          {"Duration", "00:00:08,000"}});
    p.Coll("Tree").NewRecord("Films", TJson::parse(R"([{"_ID": "f1"}])"));

    TFormFilms form(*p.Db);
    form.resize(1000, 700);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.JFrame1->SetID("f1");
    QVERIFY(form.PasLibVlcPlayer1->HasVideoWindow());
    form.BtnMute->click();
    form.BtnPlay->click();
    QVERIFY(form.BtnPlay->isChecked());

    bool advanced = false;
    for (int i = 0; i < 200 && !advanced; ++i) {
      p.Op.RunQueued();
      QTest::qWait(50);
      advanced = form.TimeBar1->value() > 100 && form.Label2->text() != "00:00:00";
    }
    QVERIFY2(advanced, qPrintable("time bar " + QString::number(form.TimeBar1->value()) +
                                  ", label " + form.Label2->text()));

    QScreen* screen = QGuiApplication::primaryScreen();
    // What the screen shows where the widget is (libvlc draws into a window of its own inside
    // the widget's window).
    const QPoint at = form.PasLibVlcPlayer1->mapToGlobal(QPoint(0, 0));
    const QSize size = form.PasLibVlcPlayer1->size();
    QImage img =
        screen->grabWindow(0, at.x(), at.y(), size.width(), size.height()).toImage();
    if (const char* shot = std::getenv("PELMORA_SHOT")) img.save(shot);
    QVERIFY(!img.isNull());
    qint64 bright = 0, all = 0;
    for (int y = 0; y < img.height(); y += 4)
      for (int x = 0; x < img.width(); x += 4, ++all)
        if (qGray(img.pixel(x, y)) > 40) ++bright;
    QVERIFY2(all > 0 && bright * 5 > all,
             qPrintable(QString("%1 of %2 pixels are not black").arg(bright).arg(all)));
    form.BitStp->click();
    QVERIFY(!form.TimeBar1->isEnabled());
    p.Op.RunQueued();
  }
};

QTEST_MAIN(TFilmsPlayerXvfbTest)
#include "FilmsPlayerXvfb.moc"
