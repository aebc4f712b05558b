#include "shell/forms/ConsoleApplication.h"

#include <QWidget>

#include <exception>
#include <iostream>

#include "base/Operator.h"

TConsoleApplication::TConsoleApplication(int& argc, char** argv) : QApplication(argc, argv) {}

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
