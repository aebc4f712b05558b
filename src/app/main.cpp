// The console: the main window, opened on the project named on the command line.
#include "shell/forms/ConsoleApplication.h"
#include "shell/forms/GuiOperator.h"
#include "shell/forms/Main.h"

int main(int argc, char** argv) {
  TConsoleApplication app(argc, argv);
  app.QuitOnTerminationSignals();
  QApplication::setApplicationName("Pelmora2");
  QApplication::setApplicationVersion(PELMORA_VERSION);
  QApplication::setWindowIcon(AppIcon());
  TGuiOperator op;
  SetAppOperator(&op);
  int rc = 0;
  {
    TFormPQ2 window;
    op.SetStatusBar(window.statusBar());
    window.OpenFromCommandLine(QApplication::arguments());
    // A signal during the start (a box was open) has ended that box's loop only.
    if (!TConsoleApplication::TerminationRequested()) {
      window.show();
      rc = app.exec();
    }
  }
  SetAppOperator(nullptr);
  return rc;
}
