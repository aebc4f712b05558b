#include "shell/forms/Main.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <vector>

#include "shell/Databases.h"
#include "shell/ProjectArguments.h"

TFormPQ2::TFormPQ2(QWidget* parent) : QMainWindow(parent) {
  setObjectName("FormPQ2");
  DbF1 = CreateMainDatabase();
  DbFcon = CreateContractsDatabase(QDir::currentPath().toStdString());
  DbTimeLine = CreateTimeLineDatabase(QDir::currentPath().toStdString());
  DbFcon->Loaded();
  DbTimeLine->Loaded();

  MdiArea = new QMdiArea(this);
  setCentralWidget(MdiArea);

  QMenu* file = menuBar()->addMenu("File");
  file->setObjectName("File1");
  file->setProperty("Tag", 1);
  connect(AddEntry(file, "New1", "New", 1), &QAction::triggered, this, &TFormPQ2::New1Click);
  connect(AddEntry(file, "Open1", "Open", 1), &QAction::triggered, this, &TFormPQ2::Open1Click);
  connect(AddEntry(file, "SaveAs1", "Save As ...", 0), &QAction::triggered, this,
          &TFormPQ2::SaveAs1Click);
  file->addSeparator();
  AddEntry(file, "OpenmongoDB1", "Open mongoDB", 1);
  file->addSeparator();
  connect(AddEntry(file, "Exit1", "Exit", 1), &QAction::triggered, this, &QWidget::close);

  QMenu* dirs = menuBar()->addMenu("Directories");
  dirs->setObjectName("Directories1");
  const std::pair<const char*, const char*> entries[] = {
      {"Channels1", "Channels"}, {"Channelschedules1", "ChSched"}, {"Films1", "Films"},
      {"Groups1", "Groups"},     {"Onlinecontrol1", "OnLineContr"}, {"PlayLists1", "PlayLists"},
      {"SrvOpt1", "SrvOptions"}, {"Schedules1", "Schedules"}};
  for (const auto& [name, coll] : entries) {
    QString collection = coll;
    auto& item = DbF1->CollectionByName(coll);
    connect(AddEntry(dirs, name, QString::fromStdString(item.MenuItem()), 0), &QAction::triggered,
            this, [this, collection] { CollectionClick(collection); });
  }
  QMenu* help = menuBar()->addMenu("Help");
  help->setObjectName("Help1");
  help->setProperty("Tag", 1);
  connect(AddEntry(help, "About1", "About", 1), &QAction::triggered, this, [this] {
    QMessageBox::about(this, "About",
                       QString("Pelmora console\nVersion: %1\nDatabase version: %2")
                           .arg(PELMORA_VERSION)
                           .arg(QString::fromStdString(DbF1->LoadedDBVersion())));
  });
  statusBar();
  resize(1024, 700);
  EnableMenu();
}

TFormPQ2::~TFormPQ2() = default;

QAction* TFormPQ2::AddEntry(QMenu* menu, const QString& name, const QString& caption, int tag) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(name);
  a->setProperty("Tag", tag);
  return a;
}

void TFormPQ2::OpenFromCommandLine(const QStringList& args) {
  // A project file, or "host[:port]" and a MongoDB database name; anything else opens nothing.
  std::vector<std::string> rest;
  for (qsizetype i = 1; i < args.size(); ++i) rest.push_back(args[i].toStdString());
  TProjectArguments where = ParseProjectArguments(rest);
  if (where.Kind == TProjectArguments::TKind::File)
    where.FileName = QFileInfo(QString::fromStdString(where.FileName)).absoluteFilePath().toStdString();
  OpenProjectArguments(*DbF1, where);
  EnableMenu();
}

void TFormPQ2::EnableMenu() {
  setWindowTitle(QString("Pelmora2 - ") + QString::fromStdString(DbF1->FileName()));
  const bool open = DbF1->DbIsOpen();
  for (QAction* a : findChildren<QAction*>())
    if (a->property("Tag").toInt() == 0 && !a->objectName().isEmpty()) a->setEnabled(open);
  if (open)
    statusBar()->showMessage(QString("Project %1, database version %2")
                                 .arg(QString::fromStdString(DbF1->FileName()))
                                 .arg(QString::fromStdString(DbF1->LoadedDBVersion())));
  else if (!DbF1->FileName().empty())
    statusBar()->showMessage(QString("Project %1 is not open%2")
                                 .arg(QString::fromStdString(DbF1->FileName()))
                                 .arg(DbF1->LastError().empty()
                                          ? QString()
                                          : ": " + QString::fromStdString(DbF1->LastError())));
  else
    statusBar()->showMessage("No project open");
}

void TFormPQ2::New1Click() {
  QString f = QFileDialog::getSaveFileName(this, "New project", QString(),
                                           "Pelmora project (*.pq2pr)");
  if (f.isEmpty()) return;
  if (!f.endsWith(".pq2pr")) f += ".pq2pr";
  DbF1->SetUseMongoDb(false);
  DbF1->New();
  DbF1->SetFileName(f.toStdString());
  try {
    DbF1->Save();
  } catch (const std::exception& e) {
    QMessageBox::critical(this, "IO Error", e.what());
  }
  EnableMenu();
}

void TFormPQ2::Open1Click() {
  QString f = QFileDialog::getOpenFileName(this, QString(), QString(), "Pelmora project (*.pq2pr)");
  if (f.isEmpty()) return;
  DbF1->SetUseMongoDb(false);
  DbF1->SetFileName(f.toStdString());
  DbF1->Load();
  EnableMenu();
}

void TFormPQ2::SaveAs1Click() {
  QString f = QFileDialog::getSaveFileName(this, QString(), QString(), "Pelmora project (*.pq2pr)");
  if (f.isEmpty()) return;
  DbF1->SetFileName(f.toStdString());
  try {
    DbF1->Save();
  } catch (const std::exception& e) {
    QMessageBox::critical(this, "IO Error", e.what());
  }
  EnableMenu();
}

void TFormPQ2::CollectionClick(const QString& collection) {
  auto& item = DbF1->CollectionByName(collection.toStdString());
  QMessageBox::information(
      this, QString::fromStdString(item.GetName()),
      QString("The window %1 is not available in this version.")
          .arg(QString::fromStdString(item.FormClassName())));
}
