// The console: the main window on the project named on the command line.
#include <QApplication>

#include "shell/forms/Main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Pelmora2");
  TFormPQ2 window;
  window.OpenFromCommandLine(QApplication::arguments());
  window.show();
  return app.exec();
}
