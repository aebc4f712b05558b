// The console: the main window, opened on the project named on the command line.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "catalogue/DemoProject.h"
#include "shell/forms/ConsoleApplication.h"
#include "shell/forms/DemoStart.h"
#include "shell/forms/GuiOperator.h"
#include "shell/forms/Main.h"

namespace {

const char* const Usage =
    "Usage: pelmora [PROJECT-FILE | HOST[:PORT] DATABASE | --demo [DIR]]\n"
    "The desktop console of an IPTV / video-on-demand head-end: the catalogue of movies,\n"
    "channels, STB groups and playlists, channel schedules, the packages of the playout\n"
    "servers, the STB portal pages, remote control panels and advertising.\n"
    "\n"
    "  PROJECT-FILE          open this project file (.pq2pr)\n"
    "  HOST[:PORT] DATABASE  open the main database on a MongoDB server (port 27017 when\n"
    "                        none is given)\n"
    "  --demo [DIR]          make the demo head-end in DIR (default ~/pelmora-demo), a new or\n"
    "                        empty folder, with a short generated clip for every film when\n"
    "                        ffmpeg is there, and open it; a folder holding the demo made\n"
    "                        earlier is opened as it is\n"
    "  -h, --help            print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "Without arguments the console starts with no database open (File > Open, File > New).\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before any window system is touched, so they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("pelmora %s\n", PELMORA_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(Usage, stdout);
      return 0;
    }
  }
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
    QStringList args = QApplication::arguments();
    if (qsizetype at = args.indexOf("--demo"); at > 0) {
      std::string dir = DefaultDemoDir();
      if (at + 1 < args.size() && !args[at + 1].startsWith('-')) dir = args[at + 1].toStdString();
      window.show();
      const std::string project = MakeDemoWithProgress(&window, dir);
      args = QStringList{args[0]};
      if (!project.empty()) {
        args << QString::fromStdString(project);
        // The advertising files ("contracts.json", "timeline.json") are kept beside the demo.
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::path(project).parent_path(), ec);
      }
    }
    window.OpenFromCommandLine(args);
    // A signal during the start (a box was open) has ended that box's loop only.
    if (!TConsoleApplication::TerminationRequested()) {
      window.show();
      rc = app.exec();
    }
  }
  SetAppOperator(nullptr);
  return rc;
}
