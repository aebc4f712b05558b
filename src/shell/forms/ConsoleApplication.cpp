#include "shell/forms/ConsoleApplication.h"

#include <QSocketNotifier>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <iostream>

#include "base/Operator.h"

TConsoleApplication::TConsoleApplication(int& argc, char** argv) : QApplication(argc, argv) {}

namespace {
int GSignalPipe[2] = {-1, -1};
bool GTerminationRequested = false;

// Only an async-signal-safe write here; the event loop does the rest.
void OnTerminationSignal(int) {
  const char byte = 1;
  if (GSignalPipe[1] >= 0) (void)!::write(GSignalPipe[1], &byte, 1);
}
}  // namespace

bool TConsoleApplication::TerminationRequested() { return GTerminationRequested; }

void TConsoleApplication::QuitOnTerminationSignals() {
  if (GSignalPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, GSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(GSignalPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [] {
    char byte;
    (void)!::read(GSignalPipe[0], &byte, 1);
    GTerminationRequested = true;
    std::cerr << "pelmora: terminated by a signal; closing the project" << std::endl;
    QCoreApplication::quit();  // ends every event loop, modal boxes' included
  });
  struct sigaction sa = {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

bool TConsoleApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Report(receiver, e.what());
  } catch (...) {
    Report(receiver, "unknown failure");
  }
  return false;
}

void TConsoleApplication::Report(QObject* receiver, const std::string& what) {
  ++FCaught;
  std::string where;
  if (auto* w = qobject_cast<QWidget*>(receiver); w && w->window())
    where = w->window()->windowTitle().toStdString();
  const std::string text = "The operation failed" + (where.empty() ? "" : " in \"" + where + "\"") +
                           ": " + what + "\nThe console goes on; check the data involved.";
  std::cerr << "pelmora: " << text << std::endl;
  // A failure while the message itself is being shown goes only to the log, so one broken
  // window cannot stack up message boxes.
  if (FReporting) return;
  FReporting = true;
  try {
    AppOperator().MessageBox("Error", text, TMsgIcon::Error);
  } catch (...) {
  }
  FReporting = false;
}
