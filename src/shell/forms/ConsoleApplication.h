#pragma once
// The console's application object. An exception that leaves an event handler (a slot, a
// paint, a key press) would otherwise end the whole console and lose every open edit; here it
// is reported to the operator and the event loop goes on.
#include <QApplication>

#include <string>

class TConsoleApplication : public QApplication {
public:
  TConsoleApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in the terminal) end the event loop
  // instead of the process, so the windows and databases close normally: the project's lock is
  // released and the next console does not find a stale one.
  void QuitOnTerminationSignals();
  // A termination signal came (also while a box of the start-up was open).
  static bool TerminationRequested();

  // How many failures were caught since the start (for tests and the log).
  int CaughtFailures() const { return FCaught; }

private:
  void Report(QObject* receiver, const std::string& what);
  int FCaught = 0;
  bool FReporting = false;
};
