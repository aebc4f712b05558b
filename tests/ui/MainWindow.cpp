// The main window: menus and their states, titles, the project lifecycle, the window registry
// and the GUI operator. File and MongoDB dialogs are replaced by scripted ones.
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <thread>

#include "recstore/FileLock.h"
#include "shell/Databases.h"
#include "shell/Options.h"
#include "shell/Users.h"
#include "JFrame/FormRegistry.h"
#include "shell/forms/GuiOperator.h"
#include "shell/forms/Main.h"
#include "shell/forms/MongoDBparam.h"
#include "support/TestSupport.h"

// An editor frame that shows one record of a collection.
class TTestFrame : public QWidget, public IJFrame {
  Q_OBJECT
public:
  TTestFrame(QWidget* parent, TDbCollectionItem* coll) : QWidget(parent), FColl(coll) {
    if (FColl) AddJFrame(*FColl, this);
  }
  ~TTestFrame() override {
    if (FColl) DelJFrame(*FColl, this);
  }
  std::string EditorRecordID() const override { return FID; }
  void BringEditorToFront() override {
    QWidget* p = parentWidget();
    while (p && !qobject_cast<QMdiSubWindow*>(p)) p = p->parentWidget();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(p)) sub->mdiArea()->setActiveSubWindow(sub);
  }
  void SetEditorRecordID(const std::string& id) override { FID = id; }

private:
  TDbCollectionItem* FColl;
  std::string FID;
};

TDbCollectionItem* GEditorCollection = nullptr;

class TFormTestEditor : public QWidget {
  Q_OBJECT
public:
  explicit TFormTestEditor(QWidget* parent = nullptr) : QWidget(parent) {
    setWindowTitle("Test editor");
    Frame = new TTestFrame(this, GEditorCollection);
  }
  TTestFrame* Frame;
};

// A window with unsaved edits the operator wants to keep.
class TFormRefusing : public QWidget {
  Q_OBJECT
public:
  using QWidget::QWidget;
  bool Refuse = true;

protected:
  void closeEvent(QCloseEvent* e) override {
    if (Refuse) e->ignore();
    else e->accept();
  }
};

class TFormTestPanel : public QWidget {
  Q_OBJECT
public:
  TFormTestPanel(QWidget* parent, std::string id) : QWidget(parent), ID(std::move(id)) {}
  std::string ID;
};

// A control panel takes the arrow keys.
class TFormArrowPanel : public QWidget, public IArrowKeyHandler {
  Q_OBJECT
public:
  using QWidget::QWidget;
  QList<int> Keys;
  bool FormArrayKeyPressed(int key) override {
    Keys << key;
    return key != Qt::Key_Down;  // Down is left to the focused control
  }
};

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }

std::string MakeProject(const TTempDir& tmp, const std::string& name, const TJson& films = TJson()) {
  auto db = CreateMainDatabase();
  std::string file = tmp.File(name);
  db->SetFileName(file);
  db->New();
  db->Save();
  if (films.is_object())
    for (auto it = films.begin(); it != films.end(); ++it)
      db->CollectionByName("Films").NewRecord(it.key(), it.value());
  return file;
}

bool Enabled(TFormPQ2& w, const char* name) {
  QAction* a = w.MenuEntry(name);
  if (!a) qFatal("no menu entry %s", name);
  return a->isEnabled();
}

QStringList Names(const QList<QAction*>& actions) {
  QStringList out;
  for (QAction* a : actions) out << (a->isSeparator() ? QString("-") : a->objectName());
  return out;
}
}  // namespace

class TMainWindowTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    TFormRegistry::Register("TFormTestEditor", [](QWidget* p) { return new TFormTestEditor(p); });
    TFormRegistry::Register("TFormRefusing", [](QWidget* p) { return new TFormRefusing(p); });
    TFormRegistry::RegisterWithRecord("TFormControlPanel", [](QWidget* p, const std::string& id) {
      return new TFormTestPanel(p, id);
    });
  }

  void MenusAndTitleWithoutProject() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    QCOMPARE(w.windowTitle(), QString("Pelmora2 - "));
    QCOMPARE(Names(w.menuBar()->actions()),
             QStringList({"File1", "Directories1", "Objects1", "Check1", "Advertising1",
                          "Onlinecontrol2", "Window1", "Options1", "Help1"}));
    QStringList captions;
    for (QAction* a : w.menuBar()->actions()) captions << a->text();
    QCOMPARE(captions, QStringList({"File", "Directories", "Servers", "Check", "Advertising",
                                    "OnlineControl", "Windows", "Options", "Help"}));
    QCOMPARE(Names(w.MenuEntry("Check1")->menu()->actions()), QStringList({"CheckAll1", "GuideGrid1"}));
    QCOMPARE(w.MenuEntry("CheckAll1")->text(), QString("Check all"));
    QCOMPARE(w.MenuEntry("GuideGrid1")->text(), QString("Guide grid..."));
    QCOMPARE(Names(w.MenuEntry("File1")->menu()->actions()),
             QStringList({"New1", "Open1", "SaveAs1", "Backups1", "-", "OpenmongoDB1", "-", "Exit1"}));
    QCOMPARE(Names(w.MenuEntry("Directories1")->menu()->actions()),
             QStringList({"Channels1", "Channelschedules1", "Films1", "Groups1", "Onlinecontrol1",
                          "PlayLists1", "SrvOpt1", "Schedules1", "-", "WebPages1", "Portals1", "-",
                          "Users1"}));
    QCOMPARE(Names(w.MenuEntry("Window1")->menu()->actions()),
             QStringList({"Cascade1", "itle1", "Arrange1", "CloseAll1"}));
    QCOMPARE(w.MenuEntry("Films1")->text(), QString("Movies"));
    QCOMPARE(w.MenuEntry("Channelschedules1")->text(), QString("Channel schedules"));
    QCOMPARE(w.MenuEntry("Groups1")->text(), QString("Groups of STB"));
    QCOMPARE(w.MenuEntry("SrvOpt1")->text(), QString("Server's options"));
    QCOMPARE(w.MenuEntry("Portals1")->text(), QString("Web portals"));
    QCOMPARE(w.MenuEntry("SaveAs1")->text(), QString("Save As ..."));
    QCOMPARE(w.MenuEntry("itle1")->text(), QString("Tile"));
    QCOMPARE(w.MenuEntry("TimeLine1")->text(), QString("Time Line"));
    QCOMPARE(w.MenuEntry("Tableofcontent1")->text(), QString("Table of Contents"));

    for (const char* on : {"File1", "New1", "Open1", "OpenmongoDB1", "Exit1", "Help1",
                           "Tableofcontent1", "About1"})
      QVERIFY2(Enabled(w, on), on);
    for (const char* off : {"SaveAs1", "Directories1", "Channels1", "Films1", "Users1", "Objects1",
                            "Advertising1", "Contracts1", "TimeLine1", "Onlinecontrol2", "Window1", "Check1", "CheckAll1",
                            "Cascade1", "CloseAll1", "Options1"})
      QVERIFY2(!Enabled(w, off), off);
    QVERIFY(!w.Db().DbIsOpen());
  }

  void CommandLineProjectFileEnablesEverything() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string file = MakeProject(tmp, "a.pq2pr");
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(file)});
    QVERIFY(w.Db().DbIsOpen());
    QCOMPARE(w.windowTitle(), "Pelmora2 - " + Qs(file));
    for (const char* on : {"SaveAs1", "Films1", "Users1", "Objects1", "Contracts1", "Options1",
                           "CloseAll1", "Help1"})
      QVERIFY2(Enabled(w, on), on);
    QCOMPARE(DbF1(), &w.Db());
  }

  void OneArgumentThatIsNotAFileOpensNothing() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(tmp.File("missing.pq2pr"))});
    QVERIFY(!w.Db().DbIsOpen());
    QVERIFY(!w.Db().UseMongoDb());
    QCOMPARE(w.windowTitle(), QString("Pelmora2 - "));
    w.OpenFromCommandLine({"pelmora", Qs(tmp.Path().string())});  // a folder is no project
    QVERIFY(!w.Db().DbIsOpen());
    QVERIFY(!Enabled(w, "Films1"));
    QVERIFY(op.Messages.empty());
  }

  void HostWithoutAndWithPort() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", "127.0.0.1", "mydb"});
    QVERIFY(w.Db().UseMongoDb());
    QCOMPARE(Qs(w.Db().host()), QString("127.0.0.1"));
    QCOMPARE(w.Db().port(), 27017);
    QCOMPARE(Qs(w.Db().MongoDbName()), QString("mydb"));
    QCOMPARE(w.windowTitle(), QString("Pelmora2 - mongoDb - mydb"));
    // Nothing listens there: the failed connection is reported by the store.
    QVERIFY(!w.Db().DbIsOpen());
    QVERIFY(!op.Messages.empty());
    QVERIFY(Qs(op.Messages.back().Text).startsWith("Connection Failed"));
    QVERIFY(!Enabled(w, "Films1"));

    TFormPQ2 w2(nullptr, Qs(tmp.Path().string()));
    w2.OpenFromCommandLine({"pelmora", "127.0.0.1:27018", "other"});
    QCOMPARE(w2.Db().port(), 27018);
    QCOMPARE(Qs(w2.Db().host()), QString("127.0.0.1"));
    QCOMPARE(w2.windowTitle(), QString("Pelmora2 - mongoDb - other"));

    TFormPQ2 w3(nullptr, Qs(tmp.Path().string()));
    const size_t before = op.Messages.size();
    w3.OpenFromCommandLine({"pelmora", "127.0.0.1:27x", "other"});  // malformed port: ignored
    QVERIFY(!w3.Db().UseMongoDb());
    QCOMPARE(op.Messages.size(), before);
    QCOMPARE(w3.windowTitle(), QString("Pelmora2 - "));
  }

  void CancellingNewDetachesTheDatabase() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string file = MakeProject(tmp, "a.pq2pr", TJson{{"f1", {{"Name", "Film"}}}});
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(file)});
    ShowAsChild(TFormRegistry::Create("TFormTestEditor", nullptr));
    QCOMPARE(w.MdiArea()->subWindowList().size(), 1);
    QString askedTitle;
    w.Dialogs.SaveFile = [&](QWidget*, const QString& title, const QString&) {
      askedTitle = title;
      return QString();
    };
    w.New1Click();
    QCOMPARE(askedTitle, QString("New project"));
    QCOMPARE(w.MdiArea()->subWindowList().size(), 0);
    QVERIFY(!w.Db().UseMongoDb());
    QCOMPARE(Qs(w.Db().FileName()), QString(""));
    QVERIFY(w.Db().CollectionByName("Films").GetRecord("f1").has_value());  // still in memory
    QCOMPARE(w.windowTitle(), QString("Pelmora2 - "));
  }

  void NewCreatesTheProjectFile() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.Dialogs.SaveFile = [&](QWidget*, const QString&, const QString&) {
      return Qs(tmp.File("fresh"));
    };
    w.New1Click();
    const std::string expected = tmp.File("fresh.pq2pr");
    QVERIFY(std::filesystem::exists(expected));
    QVERIFY(w.Db().DbIsOpen());
    QCOMPARE(Qs(w.Db().LoadedDBVersion()), QString("2.0.8.4"));
    QCOMPARE(w.windowTitle(), "Pelmora2 - " + Qs(expected));
    QVERIFY(Enabled(w, "Films1"));
    QVERIFY(ReadFileBytes(expected).find("2.0.8.4") != std::string::npos);
  }

  void RefusingChildStopsOpenAndClose() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string a = MakeProject(tmp, "a.pq2pr");
    std::filesystem::create_directory(tmp.Path() / "other");
    std::string b = MakeProject(tmp, "other/b.pq2pr");
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(a)});
    ShowAsChild(TFormRegistry::Create("TFormTestEditor", nullptr));
    auto* refusing = static_cast<TFormRefusing*>(TFormRegistry::Create("TFormRefusing", nullptr));
    ShowAsChild(refusing);
    int dialogs = 0;
    w.Dialogs.OpenFile = [&](QWidget*, const QString&) {
      ++dialogs;
      return Qs(b);
    };
    w.Open1Click();
    QCOMPARE(dialogs, 0);
    QCOMPARE(Qs(w.Db().FileName()), Qs(a));
    QCOMPARE(w.MdiArea()->subWindowList().size(), 1);  // the editor closed, the refusing one stays
    QVERIFY(!w.close());  // the program does not end either

    refusing->Refuse = false;
    QString startDir;
    w.Dialogs.OpenFile = [&](QWidget*, const QString& dir) {
      ++dialogs;
      startDir = dir;
      return Qs(b);
    };
    w.Open1Click();
    QCOMPARE(dialogs, 1);
    QCOMPARE(startDir, QCoreApplication::applicationDirPath());  // the default
    QCOMPARE(Qs(w.Db().FileName()), Qs(b));
    QCOMPARE(w.windowTitle(), "Pelmora2 - " + Qs(b));
    // The folder of the chosen file went into the project that was open when choosing.
    auto old = CreateMainDatabase();
    old->SetFileName(a);
    QVERIFY(old->Load());
    QCOMPARE(Qs(ReadSetting(*old, "", "AutoChanged", "ProjectsDir", "Directories")),
             Qs((tmp.Path() / "other").string()));
  }

  void SaveAsMovesTheDatabaseToTheNewFile() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string a = MakeProject(tmp, "a.pq2pr", TJson{{"f1", {{"Name", "Film"}}}});
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(a)});
    ShowAsChild(TFormRegistry::Create("TFormTestEditor", nullptr));
    QString title = "unset";
    w.Dialogs.SaveFile = [&](QWidget*, const QString& t, const QString&) {
      title = t;
      return Qs(tmp.File("copy.pq2pr"));
    };
    w.SaveAs1Click();
    QCOMPARE(title, QString(""));  // the default title
    QCOMPARE(Qs(w.Db().FileName()), Qs(tmp.File("copy.pq2pr")));
    QCOMPARE(w.MdiArea()->subWindowList().size(), 1);  // windows stay open
    auto copy = CreateMainDatabase();
    copy->SetFileName(tmp.File("copy.pq2pr"));
    QVERIFY(copy->Load());
    QVERIFY(copy->CollectionByName("Films").GetRecord("f1").has_value());
    QCOMPARE(w.windowTitle(), "Pelmora2 - " + Qs(tmp.File("copy.pq2pr")));
  }

  // Another program replaced the project file: the console's change is refused, it offers to
  // read the file again, and Yes shows what the other program wrote (No keeps everything).
  void FileChangedOnDiskOffersReload() {
    for (TMsgAnswer answer : {TMsgAnswer::No, TMsgAnswer::Yes}) {
      TTempDir tmp;
      TScopedFakeOperator op;
      std::string a = MakeProject(tmp, "a.pq2pr", TJson{{"f1", {{"Name", "Film"}}}});
      TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
      w.OpenFromCommandLine({"pelmora", Qs(a)});
      QVERIFY(w.Db().DbIsOpen());
      const std::string other =
          MakeProject(tmp, "other.pq2pr", TJson{{"f2", {{"Name", "From another program"}}}});
      std::filesystem::rename(other, a);
      const std::string theirs = ReadFileBytes(a);
      op.Answers.push_back(answer);
      QVERIFY(!w.Db().CollectionByName("Films").NewRecord("mine", TJson{{"Name", "Mine"}}));
      QCOMPARE(ReadFileBytes(a), theirs);  // never written over
      QTRY_VERIFY(!op.Messages.empty());
      QVERIFY(op.Messages.back().Question);
      QVERIFY(op.Messages.back().Text.find("another program replaced it") != std::string::npos);
      auto& films = w.Db().CollectionByName("Films");
      if (answer == TMsgAnswer::Yes) {
        QVERIFY(w.Db().DbIsOpen());
        QVERIFY(films.GetRecord("f2").has_value());
        QVERIFY(!films.GetRecord("mine").has_value());
        // Changes are saved again, over the file read last.
        QVERIFY(films.NewRecord("after", TJson{{"Name", "After"}}));
        QVERIFY(ReadFileBytes(a).find("after") != std::string::npos);
      } else {
        // Not written, so not kept either: memory stays what the file held when it was read.
        QVERIFY(!films.GetRecord("mine").has_value());
        QVERIFY(films.GetRecord("f1").has_value());
        QCOMPARE(ReadFileBytes(a), theirs);
      }
    }
  }

  // Save As onto a file another program holds, onto a folder that cannot take it, and in
  // MongoDB mode: the console stays on its project, its lock and its title.
  void FailedSaveAsKeepsTheProject() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string a = MakeProject(tmp, "a.pq2pr", TJson{{"f1", {{"Name", "Film"}}}});
    std::string b = MakeProject(tmp, "b.pq2pr");
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(a)});
    QVERIFY(w.Db().HoldsLock());
    const QString title = w.windowTitle();
    TFileLock other;  // another program holds b
    QCOMPARE(other.Acquire(b, 0), TFileLock::TResult::Acquired);
    const std::string bBytes = ReadFileBytes(b);
    for (const std::string& target : {b, tmp.File("no/such/folder/c.pq2pr")}) {
      op.Messages.clear();
      w.Dialogs.SaveFile = [&](QWidget*, const QString&, const QString&) { return Qs(target); };
      w.SaveAs1Click();
      QCOMPARE(op.Messages.size(), size_t(1));
      QVERIFY2(op.Messages[0].Text.find("Can't ") != std::string::npos, op.Messages[0].Text.c_str());
      QCOMPARE(Qs(w.Db().FileName()), Qs(a));
      QVERIFY(w.Db().HoldsLock());
      QCOMPARE(w.windowTitle(), title);
    }
    QVERIFY(op.Messages[0].Text.find("no/such/folder") != std::string::npos);
    QCOMPARE(ReadFileBytes(b), bBytes);
    // Changes still reach the project's own file.
    QVERIFY(w.Db().CollectionByName("Films").NewRecord("f2", TJson{{"Name", "Later"}}));
    QVERIFY(ReadFileBytes(a).find("Later") != std::string::npos);
    // No file to save a MongoDB database as.
    op.Messages.clear();
    w.Db().SetUseMongoDb(true);
    w.EnableMenu();
    QVERIFY(!Enabled(w, "SaveAs1"));
    w.SaveAs1Click();
    QCOMPARE(op.Messages.size(), size_t(1));
    QVERIFY(op.Messages[0].Text.find("MongoDB") != std::string::npos);
  }

  // A damaged project is refused with its reason, and the open project stays open.
  void OpeningADamagedProjectKeepsTheOpenOne() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string a = MakeProject(tmp, "a.pq2pr", TJson{{"f1", {{"Name", "Film"}}}});
    const std::string damaged = tmp.File("damaged.pq2pr");
    WriteFileBytes(damaged, "{\"DBVersion\": \"2.0.8.4\", \"Films\": {");
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(a)});
    w.Dialogs.OpenFile = [&](QWidget*, const QString&) { return Qs(damaged); };
    w.Open1Click();
    QCOMPARE(op.Messages.size(), size_t(1));
    QVERIFY2(op.Messages[0].Text.find("can not be opened: ") != std::string::npos &&
                 op.Messages[0].Text.find(damaged) != std::string::npos,
             op.Messages[0].Text.c_str());
    QCOMPARE(Qs(w.Db().FileName()), Qs(a));
    QVERIFY(w.Db().DbIsOpen());
    QVERIFY(w.Db().HoldsLock());
    QVERIFY(w.Db().CollectionByName("Films").GetRecord("f1").has_value());
    QCOMPARE(w.windowTitle(), "Pelmora2 - " + Qs(a));
  }

  // Opening another project from a write-protected one: the folder setting stays in memory,
  // and nothing is said about it.
  void OpenFromAWriteProtectedProjectSaysNothing() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string a = MakeProject(tmp, "a.pq2pr");
    std::string b = MakeProject(tmp, "b.pq2pr");
    TFileLock other;
    QCOMPARE(other.Acquire(a, 0), TFileLock::TResult::Acquired);
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(a)});
    QVERIFY(w.Db().SaveDisabled());
    const std::string aBytes = ReadFileBytes(a);
    op.Messages.clear();
    w.Dialogs.OpenFile = [&](QWidget*, const QString&) { return Qs(b); };
    w.Open1Click();
    for (const auto& m : op.Messages) QVERIFY2(false, (m.Caption + ": " + m.Text).c_str());
    QCOMPARE(Qs(w.Db().FileName()), Qs(b));
    QCOMPARE(ReadFileBytes(a), aBytes);
  }

  void SaveAsLiftsTheSaveBlock() {
    TTempDir tmp;
    TScopedFakeOperator op;
    const std::string newer = tmp.File("newer.pq2pr");
    WriteFileBytes(newer, "{\"DBVersion\": \"9.0.0.0\"}");
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(newer)});
    QVERIFY(w.Db().SaveDisabled());
    w.Dialogs.SaveFile = [&](QWidget*, const QString&, const QString&) {
      return Qs(tmp.File("saved.pq2pr"));
    };
    w.SaveAs1Click();
    QVERIFY(!w.Db().SaveDisabled());
    QVERIFY(std::filesystem::exists(tmp.File("saved.pq2pr")));
    QCOMPARE(ReadFileBytes(newer), std::string("{\"DBVersion\": \"9.0.0.0\"}"));
  }

  void OpenMongoDbThroughTheDialog() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    QStringList shown;
    w.Dialogs.ExecDbParams = [&](TFormDBparams& d) {
      shown << d.windowTitle() << d.EditIP->text() << d.EditPort->text() << d.EditDbName->text()
            << d.BtnSave->text();
      d.EditPort->setText("27018");
      d.EditDbName->setText("other");
      return true;
    };
    w.OpenmongoDB1Click();
    QCOMPARE(shown, QStringList({"mongoDB parameters", "127.0.0.1", "27017", "pelmora", "Open DB"}));
    QVERIFY(w.Db().UseMongoDb());
    QCOMPARE(w.Db().port(), 27018);
    QCOMPARE(w.windowTitle(), QString("Pelmora2 - mongoDb - other"));
    QVERIFY(Qs(op.Messages.back().Text).startsWith("Connection Failed"));
  }

  void MongoDialogPortCheck() {
    TScopedFakeOperator op;
    TFormDBparams d;
    d.EditPort->setText("12a");
    d.show();
    op.Answers.push_back(TMsgAnswer::Yes);
    d.done(QDialog::Accepted);
    QVERIFY(d.isVisible());  // stays open for correction
    QCOMPARE(op.Messages.size(), size_t(1));
    QCOMPARE(Qs(op.Messages[0].Caption), QString("mongoDB parameters"));
    QCOMPARE(Qs(op.Messages[0].Text), QString("Invalid port : \"12a\"  . Continue?"));
    QVERIFY(op.Messages[0].Question);
    op.Answers.push_back(TMsgAnswer::No);
    d.done(QDialog::Accepted);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Rejected));
    TFormDBparams good;
    good.EditPort->setText("27019");
    good.show();
    good.done(QDialog::Accepted);
    QCOMPARE(good.result(), int(QDialog::Accepted));
    QCOMPARE(op.Messages.size(), size_t(2));
  }

  void FormShowFindsOrCreatesWindows() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    TDbFile db;
    TDbCollectionItem& coll = db.Collections().Add("Tests");
    SetCollectionForm("Tests", "TFormTestEditor");
    GEditorCollection = &coll;
    QMdiArea* area = w.MdiArea();
    w.resize(1000, 700);
    w.show();
    FormShow(coll, "r1");
    QCOMPARE(area->subWindowList().size(), 1);
    auto* first = qobject_cast<TFormTestEditor*>(area->subWindowList()[0]->widget());
    QVERIFY(first);
    QCOMPARE(Qs(first->Frame->EditorRecordID()), QString("r1"));
    FormShow(coll, "r2");
    QCOMPARE(area->subWindowList().size(), 2);
    QCOMPARE(area->activeSubWindow()->widget()->findChild<TTestFrame*>()->EditorRecordID(),
             std::string("r2"));
    FormShow(coll, "r1");  // shown already: that window comes to the front
    QCOMPARE(area->subWindowList().size(), 2);
    QCOMPARE(area->activeSubWindow()->widget(), first);
    FormShow(coll, "");  // a menu click: a new window
    QCOMPARE(area->subWindowList().size(), 3);
    // New windows cascade inside the visible area.
    const QRect room(QPoint(0, 0), area->viewport()->size());
    for (QMdiSubWindow* child : area->subWindowList())
      QVERIFY2(room.contains(child->geometry()),
               qPrintable(QString("%1,%2 %3x%4 in %5x%6").arg(child->x()).arg(child->y())
                              .arg(child->width()).arg(child->height())
                              .arg(room.width()).arg(room.height())));
    QVERIFY(area->subWindowList()[1]->pos() != area->subWindowList()[2]->pos());
    db.SetShowOnlyOneForm(true);
    FormShow(coll, "");
    QCOMPARE(area->subWindowList().size(), 3);

    // "Open record to fix?": the editor that shows the record comes to the front.
    area->setActiveSubWindow(area->subWindowList()[1]);
    TGuiOperator gui;
    gui.OpenRecord(coll, "r1");
    QCOMPARE(area->activeSubWindow()->widget(), first);
    QVERIFY(w.CloseAllChildren());
    QCOMPARE(area->subWindowList().size(), 0);
    GEditorCollection = nullptr;
  }

  void UnregisteredWindowSaysSo() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    TDbFile db;
    TDbCollectionItem& coll = db.Collections().Add("Later", "Later windows");
    SetCollectionForm("Later", "TFormNobodyMadeYet", "Later windows");
    FormShow(coll, "");
    QCOMPARE(op.Messages.size(), size_t(1));
    QCOMPARE(Qs(op.Messages[0].Caption), QString("Later windows"));
    QVERIFY(Qs(op.Messages[0].Text).contains("TFormNobodyMadeYet"));
    QCOMPARE(w.MdiArea()->subWindowList().size(), 0);
  }

  // "Open record to fix?" without windows: an open editor of the record comes to the front,
  // otherwise the collection's window opens on it.
  void OpenRecordForFixPrefersAnOpenEditor() {
    struct TFakeEditor : IRecordEditor {
      explicit TFakeEditor(std::string id) : Id(std::move(id)) {}
      std::string Id;
      int Raised = 0;
      std::string EditorRecordID() const override { return Id; }
      void BringEditorToFront() override { ++Raised; }
    };
    TScopedFakeOperator op;
    TDbFile db;
    TDbCollectionItem& lists = db.Collections().Add("PlayLists");
    TFakeEditor other("x"), showing("p1");
    AddJFrame(lists, &other);
    AddJFrame(lists, &showing);
    std::vector<std::string> opened;
    SetFormShowHandler([&](TDbCollectionItem&, const std::string& id) { opened.push_back(id); });
    OpenRecordForFix(lists, "p1");
    QCOMPARE(showing.Raised, 1);
    QCOMPARE(other.Raised, 0);
    QVERIFY(opened.empty());
    DelJFrame(lists, &showing);
    OpenRecordForFix(lists, "p1");
    QVERIFY(opened == std::vector<std::string>{"p1"});
    DelJFrame(lists, &other);
    QVERIFY(AttachedJFrames(lists).empty());
    // A collection without a window opens nothing.
    FormShow(db.Collections().Add("ShowSchedule"), "s1");
    QCOMPARE(opened.size(), size_t(1));
    SetFormShowHandler(nullptr);
  }

  void OptionsEntryOpensTheOptionsWindow() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(MakeProject(tmp, "a.pq2pr"))});
    w.MenuEntry("Options1")->trigger();
    QCOMPARE(w.MdiArea()->subWindowList().size(), 1);
    QCOMPARE(QString(w.MdiArea()->subWindowList()[0]->widget()->metaObject()->className()),
             QString("TFormOptions"));
    QCOMPARE(w.MdiArea()->subWindowList()[0]->windowTitle(), QString("Options"));
    w.MenuEntry("Options1")->trigger();  // every click opens another
    QCOMPARE(w.MdiArea()->subWindowList().size(), 2);
    w.MenuEntry("Cascade1")->trigger();
    w.MenuEntry("itle1")->trigger();
    w.MenuEntry("CloseAll1")->trigger();
    QCOMPARE(w.MdiArea()->subWindowList().size(), 0);
  }

  void OnlineControlMenuEndsAtAFolder() {
    TTempDir tmp;
    TScopedFakeOperator op;
    std::string file = MakeProject(tmp, "a.pq2pr");
    {
      auto db = CreateMainDatabase();
      db->SetFileName(file);
      QVERIFY(db->Load());
      auto& panels = db->CollectionByName("OnLineContr");
      panels.NewRecord("p1", TJson{{"Name", "Panel A"}});
      panels.NewRecord("p2", TJson{{"Name", "Panel B"}});
      panels.NewRecord("p3", TJson{{"Name", "Panel C"}});
      db->CollectionByName("Tree").NewRecord(
          "OnLineContr", TJson::parse(R"([{"_ID": "p1"}, {"_ID": "p2"},
              {"text": "Folder", "_ID": "f1", "child": [{"_ID": "p3"}]}, {"_ID": "p3"}])"));
    }
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(file)});
    QList<QAction*> entries = w.OnlineControlMenu()->actions();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0]->text(), QString("Panel A"));
    QCOMPARE(entries[1]->text(), QString("Panel B"));
    QCOMPARE(entries[1]->property("Tag").toInt(), 1);
    entries[1]->trigger();
    QCOMPARE(w.MdiArea()->subWindowList().size(), 1);
    auto* panel = qobject_cast<TFormTestPanel*>(w.MdiArea()->subWindowList()[0]->widget());
    QVERIFY(panel);
    QCOMPARE(Qs(panel->ID), QString("p2"));
    QVERIFY(op.Messages.empty());
  }

  void AboutBox() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    w.OpenFromCommandLine({"pelmora", Qs(MakeProject(tmp, "a.pq2pr"))});
    w.show();
    w.About1Click();
    QDialog* box = w.LastAboutBox();
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->windowTitle(), QString("About"));
    QCOMPARE(box->findChild<QLabel*>("LabelVersion")->text(), QString("Version: 2.0.8.4"));
    QCOMPARE(box->findChild<QLabel*>("LabelDbVersion")->text(), QString("Database version: 2.0.8.4"));
    QVERIFY(box->findChild<QLabel*>("LabelProduct")->font().bold());
    auto* close = box->findChild<QPushButton*>("BtnClose");
    QCOMPARE(close->text(), QString("Close"));
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!box->isVisible());
  }

  void HelpOpensTheManual() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    QUrl opened;
    w.Dialogs.OpenUrl = [&](const QUrl& url) {
      opened = url;
      return true;
    };
    QVERIFY(Enabled(w, "Tableofcontent1"));
    w.MenuEntry("Tableofcontent1")->trigger();
    QVERIFY(opened.isLocalFile());
    QVERIFY(opened.toLocalFile().endsWith("docs/manual/index.html"));
    QVERIFY(QFileInfo::exists(opened.toLocalFile()));
    QVERIFY(op.Messages.empty());
  }

  void AccessRightLabelsFollowTheMenus() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    const auto& table = AccessRightTable();
    QCOMPARE(int(table.size()), 13);
    QCOMPARE(Qs(table[0].Label()), QString("Directory \"Channels\""));
    QCOMPARE(Qs(table[2].Label()), QString("Directory \"Movies\""));
    QCOMPARE(table[11].AccRight, arServers);
    QCOMPARE(Qs(table[11].Label()), QString("Directory \"Servers\""));
    QCOMPARE(Qs(table[12].Label()), QString("Use online control"));
  }

  void ArrowKeysGoToTheActivePanel() {
    TTempDir tmp;
    TScopedFakeOperator op;
    TFormPQ2 w(nullptr, Qs(tmp.Path().string()));
    QCOMPARE(FormPQ2(), &w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* panel = new TFormArrowPanel;
    auto* edit = new QLineEdit(panel);
    edit->setText("abc");
    ShowAsChild(panel);
    QApplication::setActiveWindow(&w);
    edit->setFocus();
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_Left);
    QCOMPARE(panel->Keys, QList<int>({Qt::Key_Left}));
    QCOMPARE(edit->cursorPosition(), 1);  // the panel used the key
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(panel->Keys.size(), 2);
    QTest::keyClick(edit, Qt::Key_A);  // other keys pass on untouched
    QCOMPARE(panel->Keys.size(), 2);
  }

  void GuiOperatorBoxes() {
    TGuiOperator gui;
    QString seenTitle, seenText;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    auto answer = [&](QMessageBox::StandardButton button) {
      QTimer::singleShot(0, [&, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenIcon = box->icon();
        box->button(button)->click();
      });
    };
    answer(QMessageBox::Ok);
    gui.MessageBox("IO Error", "disk full", TMsgIcon::Error);
    QCOMPARE(seenTitle, QString("IO Error"));
    QCOMPARE(seenText, QString("disk full"));
    QCOMPARE(seenIcon, QMessageBox::Critical);
    answer(QMessageBox::Cancel);
    QCOMPARE(gui.Ask("Error in record", "Open record to fix?", TMsgIcon::Error,
                     TMsgButtons::OkCancel, TMsgAnswer::Cancel),
             TMsgAnswer::Cancel);
    answer(QMessageBox::Yes);
    QCOMPARE(gui.Ask("Q", "Continue?", TMsgIcon::Warning, TMsgButtons::YesNo, TMsgAnswer::No),
             TMsgAnswer::Yes);
    QCOMPARE(seenIcon, QMessageBox::Warning);
  }

  void GuiOperatorRunsWorkOnTheUiThread() {
    TGuiOperator gui;
    std::atomic<bool> ran{false};
    std::thread::id where;
    std::thread worker([&] {
      gui.RunOnUiThread([&] {
        where = std::this_thread::get_id();
        ran = true;
      });
    });
    worker.join();
    QVERIFY(!ran);  // queued, not run on the worker
    QTRY_VERIFY(ran.load());
    QVERIFY(where == std::this_thread::get_id());
  }
};

QTEST_MAIN(TMainWindowTest)
#include "MainWindow.moc"
