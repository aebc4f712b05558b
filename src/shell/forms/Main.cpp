#include "shell/forms/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <vector>

#include "base/InstallPaths.h"
#include "recstore/FileLock.h"
#include "recstore/JrecClasses.h"
#include "recstore/JsonText.h"
#include "shell/Databases.h"
#include "shell/Options.h"
#include "shell/ProjectArguments.h"
#include "shell/Users.h"
#include "JFrame/FormRegistry.h"
#include "JFrame/SharedWidgets.h"
#include "shell/forms/Backups.h"
#include "shell/forms/MongoDBparam.h"
#include "JFrame/QtText.h"


namespace {
const char* const SaveAsMongoText =
    "A MongoDB database is kept on its server; \"Save As\" saves project files only.";

// Keeps to itself whatever a database being tried out would tell the operator.
class TQuietOperator : public IOperator {
public:
  void MessageBox(const std::string&, const std::string&, TMsgIcon) override {}
  TMsgAnswer Ask(const std::string&, const std::string&, TMsgIcon, TMsgButtons,
                 TMsgAnswer safeAnswer) override {
    return safeAnswer;
  }
  void StatusText(const std::string&) override {}
  void OpenRecord(TDbCollectionItem&, const std::string&) override {}
  void RunOnUiThread(std::function<void()> fn) override { fn(); }
};
TFormPQ2* GFormPQ2 = nullptr;

std::string Std(const QString& s) { return s.toStdString(); }

const char* const ProjectFilter = "Pelmora project (*.pq2pr)";
const char* const ProductName = "Pelmora console";

QString WithExtension(QString file) {
  if (!file.isEmpty() && QFileInfo(file).suffix().isEmpty()) file += ".pq2pr";
  return file;
}

// Every action of a menu and of its submenus, at every depth.
void CollectActions(const QList<QAction*>& actions, QList<QAction*>& out) {
  for (QAction* a : actions) {
    out << a;
    if (QMenu* m = a->menu()) CollectActions(m->actions(), out);
  }
}

}  // namespace

TFormPQ2* FormPQ2() { return GFormPQ2; }

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x5f, 0xa8));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
    // A play triangle: what the head-end is about.
    p.setBrush(Qt::white);
    QPolygonF tri;
    tri << QPointF(size * 0.36, size * 0.25) << QPointF(size * 0.36, size * 0.75)
        << QPointF(size * 0.78, size * 0.5);
    p.drawPolygon(tri);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

TFormPQ2::TFormPQ2(QWidget* parent, const QString& workDir) : QMainWindow(parent) {
  setObjectName("FormPQ2");
  setWindowIcon(AppIcon());
  const QString dir = workDir.isEmpty() ? QDir::currentPath() : workDir;
  DbF1 = CreateMainDatabase();
  DbFcon = CreateContractsDatabase(Std(dir));
  DbTimeLine = CreateTimeLineDatabase(Std(dir));
  DbF1->onFileChangedOnDisk = [this](TDbFile&, const std::string& why) {
    QTimer::singleShot(0, this, [this, why] { OfferReload(why); });
  };
  DbF1->Loaded();  // no file name yet: stays empty and not open
  DbFcon->Loaded();
  DbTimeLine->Loaded();

  FMdiArea = new QMdiArea(this);
  FMdiArea->setObjectName("MdiArea");
  FMdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  FMdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(FMdiArea);
  SetFormArea(FMdiArea);

  Dialogs.SaveFile = [](QWidget* parent, const QString& title, const QString& dir) {
    QFileDialog dlg(parent, title.isEmpty() ? QString("Save As") : title, dir, ProjectFilter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix("pq2pr");
    return dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()
               ? dlg.selectedFiles().first()
               : QString();
  };
  Dialogs.OpenFile = [](QWidget* parent, const QString& dir) {
    QFileDialog dlg(parent, "Open", dir, ProjectFilter);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setDefaultSuffix("pq2pr");
    dlg.setOption(QFileDialog::ReadOnly, false);
    return dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()
               ? dlg.selectedFiles().first()
               : QString();
  };
  Dialogs.ExecDbParams = [](TFormDBparams& dialog) { return dialog.exec() == QDialog::Accepted; };
  Dialogs.OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

  BuildMenus();
  statusBar()->setObjectName("StatusBar1");
  resize(1100, 720);

  EnableMenu();
  RebuildOnlineControlMenu();
  AddAccessRights();
  // The collections open their windows through the registry.
  SetFormShowHandler(ShowCollectionForm);
  qApp->installEventFilter(this);
  SetDbF1(DbF1.get());
  SetContractsDb(DbFcon.get());
  SetTimeLineDb(DbTimeLine.get());
  GFormPQ2 = this;
  // The panel records window tells when panels were added, deleted or renamed.
  FCollectionHandler = AddCollectionChangedHandler([this](const std::string& collection) {
    if (collection == "OnLineContr") RebuildOnlineControlMenu();
  });
}

TFormPQ2::~TFormPQ2() {
  qApp->removeEventFilter(this);
  RemoveCollectionChangedHandler(FCollectionHandler);
  // Child windows hold frames registered with the databases: they go before the databases.
  for (QMdiSubWindow* child : FMdiArea->subWindowList()) delete child;
  if (::DbF1() == DbF1.get()) SetDbF1(nullptr);
  if (ContractsDb() == DbFcon.get()) SetContractsDb(nullptr);
  if (TimeLineDb() == DbTimeLine.get()) SetTimeLineDb(nullptr);
  if (GFormPQ2 == this) GFormPQ2 = nullptr;
  if (FormArea() == FMdiArea) SetFormArea(nullptr);
}

QAction* TFormPQ2::AddEntry(QMenu* menu, const QString& name, const QString& caption, int tag) {
  QAction* a = menu ? menu->addAction(caption) : menuBar()->addAction(caption);
  a->setObjectName(name);
  a->setProperty("Tag", tag);
  return a;
}

QMenu* TFormPQ2::AddMenu(const QString& name, const QString& caption, int tag) {
  QMenu* m = menuBar()->addMenu(caption);
  m->setObjectName(name);
  m->menuAction()->setObjectName(name);
  m->menuAction()->setProperty("Tag", tag);
  return m;
}

QAction* TFormPQ2::AddCollectionEntry(QMenu* menu, const QString& name, const char* collection) {
  TDbCollectionItem& item = DbF1->CollectionByName(collection);
  QAction* a = AddEntry(menu, name, Qs(CollectionMenuItem(collection)), 0);
  TDbCollectionItem* coll = &item;
  connect(a, &QAction::triggered, this, [coll] { FormShow(*coll, ""); });
  return a;
}

QAction* TFormPQ2::MenuEntry(const QString& name) const {
  QList<QAction*> all;
  CollectActions(menuBar()->actions(), all);
  for (QAction* a : all)
    if (a->objectName() == name) return a;
  return nullptr;
}

void TFormPQ2::BuildMenus() {
  QMenu* file = AddMenu("File1", "File", 1);
  connect(AddEntry(file, "New1", "New", 1), &QAction::triggered, this, &TFormPQ2::New1Click);
  connect(AddEntry(file, "Open1", "Open", 1), &QAction::triggered, this, &TFormPQ2::Open1Click);
  connect(AddEntry(file, "SaveAs1", "Save As ...", 0), &QAction::triggered, this,
          &TFormPQ2::SaveAs1Click);
  connect(AddEntry(file, "Backups1", "Backups...", 0), &QAction::triggered, this, [this] {
    TFormBackups dlg(*DbF1, this);
    dlg.exec();
  });
  file->addSeparator();
  connect(AddEntry(file, "OpenmongoDB1", "Open mongoDB", 1), &QAction::triggered, this,
          &TFormPQ2::OpenmongoDB1Click);
  file->addSeparator();
  connect(AddEntry(file, "Exit1", "Exit", 1), &QAction::triggered, this, &QWidget::close);

  QMenu* dirs = AddMenu("Directories1", "Directories", 0);
  AddCollectionEntry(dirs, "Channels1", "Channels");
  AddCollectionEntry(dirs, "Channelschedules1", "ChSched");
  AddCollectionEntry(dirs, "Films1", "Films");
  AddCollectionEntry(dirs, "Groups1", "Groups");
  AddCollectionEntry(dirs, "Onlinecontrol1", "OnLineContr");
  AddCollectionEntry(dirs, "PlayLists1", "PlayLists");
  AddCollectionEntry(dirs, "SrvOpt1", "SrvOptions");
  AddCollectionEntry(dirs, "Schedules1", "Schedules");
  dirs->addSeparator();
  AddCollectionEntry(dirs, "WebPages1", "WebPages");
  AddCollectionEntry(dirs, "Portals1", "Portals");
  dirs->addSeparator();
  AddCollectionEntry(dirs, "Users1", "Users");

  // "Servers" is a top-level entry without a submenu.
  AddCollectionEntry(nullptr, "Objects1", "Servers");
  // The pre-flight check and the guide grid of the servers' plans.
  QMenu* check = AddMenu("Check1", "Check", 0);
  auto openForm = [](const char* className, const char* title) {
    QWidget* form = TFormRegistry::Create(className, nullptr);
    if (!form) {
      AppOperator().MessageBox(title, NotAvailableMessage(className), TMsgIcon::Information);
      return;
    }
    ShowAsChild(form);
  };
  connect(AddEntry(check, "CheckAll1", "Check all", 0), &QAction::triggered, this,
          [openForm] { openForm("TFormServerCheck", "Check all"); });
  connect(AddEntry(check, "GuideGrid1", "Guide grid...", 0), &QAction::triggered, this,
          [openForm] { openForm("TFormGuideGrid", "Guide grid"); });

  QMenu* adv = AddMenu("Advertising1", "Advertising", 0);
  connect(AddEntry(adv, "Contracts1", "Contracts", 0), &QAction::triggered, this,
          &TFormPQ2::Contracts1Click);
  connect(AddEntry(adv, "Places1", "Places", 0), &QAction::triggered, this,
          &TFormPQ2::Places1Click);
  connect(AddEntry(adv, "TimeLine1", "Time Line", 0), &QAction::triggered, this,
          &TFormPQ2::TimeLine1Click);

  Onlinecontrol2 = AddMenu("Onlinecontrol2", "OnlineControl", 0);

  QMenu* win = AddMenu("Window1", "Windows", 0);
  connect(AddEntry(win, "Cascade1", "Cascade", 0), &QAction::triggered, FMdiArea,
          &QMdiArea::cascadeSubWindows);
  connect(AddEntry(win, "itle1", "Tile", 0), &QAction::triggered, FMdiArea,
          &QMdiArea::tileSubWindows);
  connect(AddEntry(win, "Arrange1", "Arrange", 0), &QAction::triggered, this, [this] {
    // Arranges the minimised children along the bottom of the area.
    int x = 0;
    for (QMdiSubWindow* w : FMdiArea->subWindowList()) {
      if (!w->isMinimized()) continue;
      w->move(x, FMdiArea->viewport()->height() - w->height());
      x += w->width();
    }
  });
  connect(AddEntry(win, "CloseAll1", "Close All", 0), &QAction::triggered, this,
          &TFormPQ2::CloseAll1Click);

  connect(AddEntry(nullptr, "Options1", "Options", 0), &QAction::triggered, this,
          &TFormPQ2::Options1Click);

  QMenu* help = AddMenu("Help1", "Help", 1);
  connect(AddEntry(help, "Tableofcontent1", "Table of Contents", 1), &QAction::triggered, this,
          &TFormPQ2::Tableofcontent1Click);
  connect(AddEntry(help, "About1", "About", 1), &QAction::triggered, this, &TFormPQ2::About1Click);
}

void TFormPQ2::AddAccessRights() {
  // The labels of the users' rights are the captions of these menu entries.
  auto& table = AccessRightTable();
  table.clear();
  const std::pair<TsAccessRights, const char*> rows[] = {
      {arChannels, "Channels1"},     {arChSchedule, "Channelschedules1"},
      {arMovies, "Films1"},          {srGroups, "Groups1"},
      {arOnlineContr, "Onlinecontrol1"}, {arPlayLists, "PlayLists1"},
      {arSrvOptions, "SrvOpt1"},     {arSchedules, "Schedules1"},
      {arWebPages, "WebPages1"},     {arWebPortals, "Portals1"},
      {arUsers, "Users1"},           {arServers, "Objects1"}};
  for (const auto& [right, name] : rows) {
    QAction* a = MenuEntry(name);
    table.push_back({right, a ? Std(a->text()) : std::string(), "Directory \"%s\""});
  }
  table.push_back({arUseControlPanel, Std(Onlinecontrol2->title()), "Use online control"});
}

void TFormPQ2::OpenFromCommandLine(const QStringList& args) {
  // A project file, or "host[:port]" and a MongoDB database name; anything else opens nothing.
  try {
    std::vector<std::string> rest;
    for (qsizetype i = 1; i < args.size(); ++i) rest.push_back(Std(args[i]));
    TProjectArguments where = ParseProjectArguments(rest);
    if (where.Kind == TProjectArguments::TKind::File)
      where.FileName = Std(QFileInfo(Qs(where.FileName)).absoluteFilePath());
    OpenProjectArguments(*DbF1, where);
  } catch (...) {
    // The program starts without an open database.
  }
  EnableMenu();
  RebuildOnlineControlMenu();
}

void TFormPQ2::EnableMenu() {
  if (DbF1->UseMongoDb())
    setWindowTitle("Pelmora2 - mongoDb - " + Qs(DbF1->MongoDbName()));
  else
    setWindowTitle("Pelmora2 - " + Qs(DbF1->FileName()));
  const bool open = DbF1->DbIsOpen();
  QList<QAction*> all;
  CollectActions(menuBar()->actions(), all);
  for (QAction* a : all)
    if (!a->isSeparator() && a->property("Tag").toInt() == 0) a->setEnabled(open);
  // A MongoDB database lives on its server: there is no file to save it as.
  if (QAction* saveAs = MenuEntry("SaveAs1")) {
    saveAs->setEnabled(open && !DbF1->UseMongoDb());
    saveAs->setStatusTip(DbF1->UseMongoDb() ? QString(SaveAsMongoText) : QString());
  }
  QString state;
  if (open)
    state = (DbF1->UseMongoDb()
                                 ? "mongoDB " + Qs(DbF1->host()) + ":" +
                                       QString::number(DbF1->port()) + ", database " +
                                       Qs(DbF1->MongoDbName())
                                 : "Database version " + Qs(DbF1->LoadedDBVersion()));
  else
    state = "No project open";
  // A widget of its own: menu hints replace temporary messages, not this.
  if (!FStateLabel) {
    FStateLabel = new QLabel(this);
    FStateLabel->setObjectName("LabelState");
    statusBar()->addWidget(FStateLabel);
  }
  FStateLabel->setText(state);
}

bool TFormPQ2::CloseAllChildren() {
  while (!FMdiArea->subWindowList().isEmpty()) {
    QPointer<QMdiSubWindow> first = FMdiArea->subWindowList().first();
    const bool closed = first->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!closed) return false;
    if (first && !FMdiArea->subWindowList().isEmpty() && FMdiArea->subWindowList().first() == first) {
      if (first->isVisible()) return false;
      // Closed but kept (not deleted on close): take it out of the area.
      FMdiArea->removeSubWindow(first);
      first->deleteLater();
    }
  }
  return true;
}

QString TFormPQ2::ProjectsDir() {
  // An installed program starts in the operator's home folder, not in the system's.
  const std::string exeDir = InstalledDataDir().empty()
                                 ? Std(QCoreApplication::applicationDirPath())
                                 : Std(QDir::homePath());
  // Only an open database keeps the setting; a closed one would be written to no file.
  if (!DbF1->DbIsOpen()) return Qs(exeDir);
  return Qs(ReadSetting(*DbF1, exeDir, "AutoChanged", "ProjectsDir", "Directories"));
}

void TFormPQ2::RememberProjectsDir(const QString& file) {
  if (!DbF1->DbIsOpen()) return;
  WriteSetting(*DbF1, Std(QFileInfo(file).absolutePath()), "AutoChanged", "ProjectsDir",
               "Directories");
}

std::string TFormPQ2::UnreadableProject(const std::string& path) {
  TQuietOperator quiet;
  std::unique_ptr<TDbFile> probe = CreateMainDatabase(&quiet);
  probe->SetReadOnly(true);  // reads only: no lock, no conversion written
  probe->SetFileName(path);
  probe->Load();
  // A file that was read carries a version (a newer or unconvertible one is told by the load).
  if (probe->DbIsOpen() || !probe->FileDBVersion().empty()) return {};
  return probe->LastError().empty() ? std::string("the file can not be read")
                                    : probe->LastError();
}

void TFormPQ2::SaveToFile() {
  try {
    DbF1->Save();
  } catch (const std::exception& e) {
    AppOperator().MessageBox("IO Error", e.what(), TMsgIcon::Error);
  }
}

void TFormPQ2::OfferReload(const std::string& why) {
  if (FReloadOffered) return;  // one question for a burst of refused saves
  FReloadOffered = true;
  const TMsgAnswer a = AppOperator().Ask(
      "Project changed", why + "\nRead the project file again now? Open windows are closed first.",
      TMsgIcon::Question, TMsgButtons::YesNo, TMsgAnswer::No);
  FReloadOffered = false;
  if (a != TMsgAnswer::Yes || !CloseAllChildren()) return;
  DbF1->Load();
  EnableMenu();
  RebuildOnlineControlMenu();
}

void TFormPQ2::New1Click() {
  if (!CloseAllChildren()) return;
  const QString dir = ProjectsDir();
  DbF1->SetUseMongoDb(false);
  DbF1->SetFileName("");
  QString file = WithExtension(Dialogs.SaveFile(this, "New project", dir));
  if (file.isEmpty()) {
    EnableMenu();  // the title tells that the database has no file now
    return;
  }
  DbF1->New();
  DbF1->SetFileName(Std(QFileInfo(file).absoluteFilePath()));
  SaveToFile();
  EnableMenu();
  RebuildOnlineControlMenu();
}

void TFormPQ2::Open1Click() {
  if (!CloseAllChildren()) return;
  QString file = Dialogs.OpenFile(this, ProjectsDir());
  if (file.isEmpty()) return;
  const std::string path = Std(QFileInfo(file).absoluteFilePath());
  // A file that cannot be read at all (damaged, not a project, no access) is refused before the
  // project that is open now is closed; the operator is told why.
  const std::string unreadable = UnreadableProject(path);
  if (!unreadable.empty()) {
    AppOperator().MessageBox("Error",
                             "The project " + path + " can not be opened: " + unreadable,
                             TMsgIcon::Error);
    return;
  }
  RememberProjectsDir(file);
  DbF1->SetUseMongoDb(false);
  DbF1->SetFileName(path);
  DbF1->Load();
  EnableMenu();
  RebuildOnlineControlMenu();
}

void TFormPQ2::SaveAs1Click() {
  if (DbF1->UseMongoDb()) {
    AppOperator().MessageBox("Save As", SaveAsMongoText, TMsgIcon::Information);
    return;
  }
  QString file = WithExtension(Dialogs.SaveFile(this, QString(), ProjectsDir()));
  if (file.isEmpty()) return;
  const std::string target = Std(QFileInfo(file).absoluteFilePath());
  if (target == DbF1->FileName()) {
    SaveToFile();
    return;
  }
  // The copy is written first, while the console stays on its project and keeps its lock; only
  // a copy that was written makes the new file the project. A file another program holds is
  // left alone.
  try {
    TFileLock held;
    if (held.Acquire(target, DbF1->LockWait()) == TFileLock::TResult::Held)
      throw EDbWriteError("Can't save the database to file " + target + ": it is in use by " +
                          held.Holder().Describe() + ".");
    std::string text;
    WriteProjectText(text, DbF1->JSON(), nullptr);
    WriteFileAtomically(target, text);
  } catch (const std::exception& e) {
    AppOperator().MessageBox("IO Error", e.what(), TMsgIcon::Error);
    return;
  }
  RememberProjectsDir(file);
  DbF1->SetFileName(target);  // also lifts a save block
  SaveToFile();
  EnableMenu();
}

void TFormPQ2::OpenmongoDB1Click() {
  if (!CloseAllChildren()) return;
  TFormDBparams dialog(this);
  dialog.EditIP->setText(Qs(DbF1->host()));
  dialog.EditPort->setText(QString::number(DbF1->port()));
  dialog.EditDbName->setText(Qs(DbF1->MongoDbName()));
  if (!Dialogs.ExecDbParams(dialog)) return;
  int port = DbF1->port();
  if (!dialog.Port(port)) return;
  DbF1->Sethost(Std(dialog.EditIP->text().trimmed()));
  DbF1->Setport(port);
  DbF1->SetMongoDbName(Std(dialog.EditDbName->text().trimmed()));
  DbF1->SetUseMongoDb(true);
  DbF1->Load();
  EnableMenu();
  RebuildOnlineControlMenu();
}

void TFormPQ2::Options1Click() { FormShow(DbF1->CollectionByName("Options"), ""); }
void TFormPQ2::Contracts1Click() { FormShow(DbFcon->CollectionByName("Contracts"), ""); }
void TFormPQ2::Places1Click() { FormShow(DbFcon->CollectionByName("Places"), ""); }

void TFormPQ2::TimeLine1Click() {
  QWidget* form = TFormRegistry::Create("TFormTimeLine", nullptr);
  if (!form) {
    AppOperator().MessageBox("Time Line", NotAvailableMessage("TFormTimeLine"), TMsgIcon::Information);
    return;
  }
  ShowAsChild(form);
}

void TFormPQ2::RebuildOnlineControlMenu() {
  if (!DbF1->DbIsOpen()) return;
  for (QAction* a : Onlinecontrol2->actions()) {
    Onlinecontrol2->removeAction(a);
    a->deleteLater();
  }
  try {
    std::optional<TJson> tree = DbF1->CollectionByName("Tree").GetRecord("OnLineContr");
    if (!tree || !tree->is_array()) return;
    TDbCollectionItem& panels = DbF1->CollectionByName("OnLineContr");
    int position = 0;
    for (const TJson& entry : *tree) {
      if (!entry.is_object()) return;
      std::optional<TJson> rec = panels.GetRecord(JsonStr(entry, "_ID"));
      if (!rec || !rec->is_object()) return;  // a folder (or a lost record) ends the list
      QAction* a = AddEntry(Onlinecontrol2, QString("OnLineContrItem%1").arg(position),
                            Qs(JsonStr(*rec, "Name")), position);
      connect(a, &QAction::triggered, this, [this, a] { OnLIneContrItemClk(a); });
      ++position;
    }
  } catch (...) {
    // Building this menu never shows an error.
  }
}

void TFormPQ2::OnLIneContrItemClk(QAction* item) {
  if (!DbF1->DbIsOpen()) return;
  try {
    std::optional<TJson> tree = DbF1->CollectionByName("Tree").GetRecord("OnLineContr");
    if (!tree || !tree->is_array()) return;
    const int position = item->property("Tag").toInt();
    if (position < 0 || static_cast<size_t>(position) >= tree->size()) return;
    const std::string id = JsonStr((*tree)[static_cast<size_t>(position)], "_ID");
    QWidget* panel = TFormRegistry::CreateWithRecord("TFormControlPanel", nullptr, id);
    if (!panel) {
      // A registered panel window that could not open has said why.
      if (TFormRegistry::IsRegisteredWithRecord("TFormControlPanel")) return;
      AppOperator().MessageBox("OnlineControl", NotAvailableMessage("TFormControlPanel"),
                               TMsgIcon::Information);
      return;
    }
    ShowAsChild(panel);
  } catch (...) {
  }
}

QString TFormPQ2::ManualPath() {
  // Beside the program in a build tree, <prefix>/share/pelmora/manual when installed.
  const QString page = Qs(ProgramDataPath("docs/manual/index.html"));
  if (QFileInfo(page).isFile()) return QFileInfo(page).absoluteFilePath();
  const std::string installed = InstalledDataDir();
  if (!installed.empty()) {
    const QString shared = Qs(installed + "/manual/index.html");
    if (QFileInfo(shared).isFile()) return QFileInfo(shared).absoluteFilePath();
  }
  return {};
}

void TFormPQ2::Tableofcontent1Click() {
  const QString page = ManualPath();
  if (page.isEmpty()) {
    AppOperator().MessageBox("Error", "The manual (docs/manual/index.html) is not installed.",
                             TMsgIcon::Error);
    return;
  }
  if (!Dialogs.OpenUrl(QUrl::fromLocalFile(page)))
    AppOperator().MessageBox("Error", Std("Cannot open a browser for " + page), TMsgIcon::Error);
}

void TFormPQ2::About1Click() {
  delete FAboutBox;
  auto* box = new QDialog(this);
  FAboutBox = box;
  box->setObjectName("AboutBox");
  box->setWindowTitle("About");
  auto* lay = new QHBoxLayout(box);
  lay->setContentsMargins(16, 16, 16, 12);
  lay->setSpacing(16);
  auto* icon = new QLabel(box);
  icon->setObjectName("Image1");
  icon->setPixmap(windowIcon().pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  lay->addWidget(icon);
  auto* col = new QVBoxLayout;
  auto* product = new QLabel(ProductName, box);
  product->setObjectName("LabelProduct");
  QFont bold = product->font();
  bold.setBold(true);
  bold.setPointSize(bold.pointSize() + 2);
  product->setFont(bold);
  auto* version = new QLabel(QString("Version: ") + PELMORA_VERSION, box);
  version->setObjectName("LabelVersion");
  auto* dbVersion = new QLabel("Database version: " + Qs(DbF1->LoadedDBVersion()), box);
  dbVersion->setObjectName("LabelDbVersion");
  col->addWidget(product);
  col->addWidget(version);
  col->addWidget(dbVersion);
  col->addSpacing(8);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* close = new QPushButton("Close", box);
  close->setObjectName("BtnClose");
  close->setDefault(true);
  connect(close, &QPushButton::clicked, box, &QDialog::accept);
  buttons->addWidget(close);
  col->addLayout(buttons);
  lay->addLayout(col);
  box->setFixedSize(box->sizeHint());  // sized to fit its labels
  box->move(geometry().center() - box->rect().center());
  box->open();
}

void TFormPQ2::closeEvent(QCloseEvent* e) {
  // Nothing to save: every change is already written. Children may keep unsaved edits.
  if (!CloseAllChildren()) {
    e->ignore();
    return;
  }
  e->accept();
}

bool TFormPQ2::eventFilter(QObject* watched, QEvent* e) {
  // Only the first delivery: a key the focused control ignores is sent to its parents again.
  if (e->type() == QEvent::KeyPress && watched == QApplication::focusWidget()) {
    auto* key = static_cast<QKeyEvent*>(e);
    const int k = key->key();
    if (k == Qt::Key_Left || k == Qt::Key_Right || k == Qt::Key_Up || k == Qt::Key_Down) {
      if (QMdiSubWindow* active = FMdiArea->activeSubWindow()) {
        if (auto* panel = dynamic_cast<IArrowKeyHandler*>(active->widget())) {
          if (QApplication::activeWindow() == this && panel->FormArrayKeyPressed(k)) return true;
        }
      }
    }
  }
  return QMainWindow::eventFilter(watched, e);
}
