// An exception leaving an event handler is reported and the console goes on.
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <stdexcept>

#include "shell/forms/ConsoleApplication.h"
#include "support/TestSupport.h"

namespace {
class TThrowingWidget : public QWidget {
public:
  int Calls = 0;

protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      ++Calls;
      throw std::runtime_error("table row 1 is not an array");
    }
    return QWidget::event(e);
  }
};
}  // namespace

class TConsoleApplicationTest : public QObject {
  Q_OBJECT
private slots:
  void FailureInAnEventIsReportedAndTheLoopGoesOn() {
    auto* app = static_cast<TConsoleApplication*>(QCoreApplication::instance());
    TScopedFakeOperator op;
    TThrowingWidget w;
    w.setWindowTitle("Groups of STB - G1");
    // Sent directly and posted through the event loop, as a slot or a paint would be.
    QEvent direct(QEvent::User);
    QCOMPARE(QCoreApplication::sendEvent(&w, &direct), false);
    QCoreApplication::postEvent(&w, new QEvent(QEvent::User));
    bool later = false;
    QTimer::singleShot(0, [&later] { later = true; });
    QTRY_VERIFY(later);
    QCOMPARE(w.Calls, 2);
    QCOMPARE(app->CaughtFailures(), 2);
    QCOMPARE(op.Messages.size(), size_t(2));
    QVERIFY(op.Messages[0].Text.find("Groups of STB - G1") != std::string::npos);
    QVERIFY(op.Messages[0].Text.find("table row 1 is not an array") != std::string::npos);
  }
};

int main(int argc, char** argv) {
  TConsoleApplication app(argc, argv);
  TConsoleApplicationTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "ConsoleApplication.moc"
