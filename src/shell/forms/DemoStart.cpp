#include "shell/forms/DemoStart.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QProgressDialog>
#include <QString>
#include <filesystem>
#include <thread>

#include "base/Operator.h"
#include "catalogue/DemoProject.h"
#include "JFrame/QtText.h"

namespace fs = std::filesystem;

namespace {

QString Lines(const std::vector<std::string>& lines) {
  QStringList out;
  for (const std::string& l : lines) out << Qs(l);
  return out.join('\n');
}

}  // namespace

std::string MakeDemoWithProgress(QWidget* parent, const std::string& dir) {
  const std::string earlier = (fs::absolute(dir) / DemoProjectName).lexically_normal().string();
  std::error_code ec;
  if (fs::is_regular_file(earlier, ec)) return earlier;

  QProgressDialog progress(parent);
  progress.setWindowTitle("Demo");
  progress.setLabelText(Qs("Making the demo head-end in " + dir));
  progress.setCancelButton(nullptr);
  progress.setMinimumDuration(0);
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setRange(0, 1);
  progress.setValue(0);
  progress.show();

  // The clips take a few seconds: they are made on a worker thread, which reports each step to
  // the dialog through the event loop. Messages of the worker's database go to stderr, never to
  // a window from that thread.
  TDemoResult result;
  std::string error;
  QEventLoop loop;
  std::thread worker([&] {
    TConsoleOperator quiet;
    try {
      result = MakeDemoProject(dir, &quiet, [&](const std::string& text, int step, int steps) {
        QMetaObject::invokeMethod(&progress, [&progress, text = Qs(text), step, steps] {
          progress.setRange(0, steps);
          progress.setValue(step);
          progress.setLabelText(text);
        }, Qt::QueuedConnection);
      });
    } catch (const std::exception& e) {
      error = e.what();
    }
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  QApplication::processEvents();
  progress.close();

  if (!error.empty()) {
    QMessageBox::critical(parent, "Demo", Qs("The demo was not made.\n" + error));
    return {};
  }
  if (result.FfmpegMissing || !result.Notes.empty())
    QMessageBox::warning(parent, "Demo", Lines(DemoSummary(result)));
  return result.ProjectFile;
}
