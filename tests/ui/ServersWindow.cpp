// The servers window: the satellite rule, the VoD address mirroring the URL, a record saved
// whole (MakeEpg kept), copying to a real smbd with the buttons disabled and Cancel, and the
// restart sent to a JSON-RPC peer while the window closes mid-request.
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "integration/Peers.h"
#include "servers/PostAndGet.h"
#include "servers/forms/Servers.h"
#include "ui/UiProject.h"

namespace fs = std::filesystem;

namespace {

QString Qs(const std::string& s) { return QString::fromStdString(s); }

struct TProject : TUiProject {
  std::string Pkg = Tmp.File("servers/Main");
  explicit TProject(const std::string& url = "10.0.0.5", bool satellite = false) {
    Coll("Servers").NewRecord("main", TJson{{"Name", "Main"},
                                            {"Description", ""},
                                            {"ForceDisconnect", false},
                                            {"URL", url},
                                            {"AnotherVoDIP", false},
                                            {"VoDIP", url},
                                            {"SatelliteSys", satellite},
                                            {"MakeEpg", true},
                                            {"TSched", TJson::array()}});
    Coll("Tree").NewRecord("Servers", TJson::parse(R"([{"_ID": "main"}])"));
  }
  // A package of a few files and films large enough that a copy takes a while.
  void Package() {
    fs::create_directories(Pkg + "/json/x");
    WriteFileBytes(Pkg + "/config.json", "[]");
    WriteFileBytes(Pkg + "/update-index.txt", "");
    WriteFileBytes(Pkg + "/json/x/0.pls", "/inbox/f0.ts\t1.0\n");
    TJson films = TJson::array();
    fs::create_directories(Tmp.File("video"));
    for (int i = 0; i < 4; ++i) {
      std::string f = Tmp.File("video/f" + std::to_string(i) + ".ts");
      WriteFileBytes(f, std::string(8 << 20, static_cast<char>('a' + i)));
      films.push_back({{"win", f}, {"srv", "f" + std::to_string(i) + ".ts"}});
    }
    WriteFileBytes(Pkg + "/UsedFilms.json", films.dump());
  }
};

}  // namespace

class TServersWindowTest : public QObject {
  Q_OBJECT
private slots:
  void SatelliteDisablesCopyAndRestart() {
    TProject p;
    TFormServers form(*p.Db);
    form.JFrame1->SetID("main");
    QVERIFY(form.BtnMakeSchedule->isEnabled());
    QVERIFY(form.BtnCopy->isEnabled());
    QVERIFY(form.BtnRestart->isEnabled());
    form.CheckBoxSatelliteSys->setChecked(true);
    QVERIFY(form.BtnMakeSchedule->isEnabled());
    QVERIFY(!form.BtnCopy->isEnabled());
    QVERIFY(!form.BtnRestart->isEnabled());
    form.CheckBoxSatelliteSys->setChecked(false);
    QVERIFY(form.BtnCopy->isEnabled());
  }

  void VoDAddressMirrorsTheUrlUntilTicked() {
    TProject p;
    TFormServers form(*p.Db);
    form.JFrame1->SetID("main");
    QVERIFY(!form.EditVoDIP->isEnabled());
    form.EditURL->setText("10.0.0.9");
    QCOMPARE(form.EditVoDIP->text(), QString("10.0.0.9"));
    form.CheckBoxVodIP->setChecked(true);
    QVERIFY(form.EditVoDIP->isEnabled());
    form.EditVoDIP->setText("10.0.0.20");
    form.EditURL->setText("10.0.0.10");
    QCOMPARE(form.EditVoDIP->text(), QString("10.0.0.20"));
    form.CheckBoxVodIP->setChecked(false);
    QCOMPARE(form.EditVoDIP->text(), QString("10.0.0.10"));
    // Saved whole: the keys of the window, MakeEpg among them.
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson stored = *p.Coll("Servers").GetRecord("main");
    QCOMPARE(Qs(JsonStr(stored, "URL")), QString("10.0.0.10"));
    QCOMPARE(Qs(JsonStr(stored, "VoDIP")), QString("10.0.0.10"));
    QVERIFY(JsonBool(stored, "MakeEpg"));
    form.CheckBoxMakeEpg->setChecked(false);
    QVERIFY(form.JFrame1->BtnSaveClick());
    QVERIFY(!JsonBool(*p.Coll("Servers").GetRecord("main"), "MakeEpg"));
  }

  void ShowServerFilesOpensTheShare() {
    TProject p;
    TFormServers form(*p.Db);
    form.JFrame1->SetID("main");
    std::string opened;
    form.OnOpenUrl = [&](const std::string& url) { opened = url; };
    form.EditURL->setText(" 10.0.0.7 ");
    form.BtnShowServer->click();
    QCOMPARE(Qs(opened), QString("smb://10.0.0.7/inbox"));
  }

  void CopyRunsWithButtonsDisabledAndCancelStopsIt() {
    TSmbdPeer smb;
    TProject p(smb.Address());
    p.Package();
    TFormServers form(*p.Db);
    form.JFrame1->SetID("main");
    form.OnDeployRequest = [](TDeployRequest& r) { r.Credentials = TSmbCredentials{}; };
    bool disabledWhileRunning = false;
    std::atomic<bool> cancelled{false};
    // The copy waits in its first film until Cancel is pressed (a loopback copy is quick).
    form.OnCopyProgress = [&](const TCopyProgress& pr) {
      if (pr.BytesDone == 0) return;
      for (int i = 0; i < 500 && !cancelled; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!form.Running() || !form.Progress() || cancelled) return;
      disabledWhileRunning = !form.BtnMakeSchedule->isEnabled() && !form.BtnCopy->isEnabled() &&
                             !form.BtnRestart->isEnabled();
      if (form.Progress()->value() > 0) {  // some bytes of the first film are on their way
        QPushButton* cancel = form.Progress()->findChild<QPushButton*>();
        QVERIFY(cancel);
        cancel->click();  // the operator's Cancel
        cancelled = true;
      }
    });
    poll.start();
    form.BtnCopy->click();
    poll.stop();
    QCoreApplication::processEvents();
    QVERIFY(cancelled);
    QVERIFY(disabledWhileRunning);
    QVERIFY(!form.Running());
    QVERIFY(form.BtnCopy->isEnabled());
    QVERIFY2(form.StatusBar1->currentMessage().contains("cancelled by the user"),
             qPrintable(form.StatusBar1->currentMessage()));
    // Only whole files are on the share, and config.json (copied last) is not among them.
    for (auto& e : fs::recursive_directory_iterator(smb.InboxDir())) {
      if (!e.is_regular_file()) continue;
      QVERIFY2(e.path().extension() != ".pelmora-part", qPrintable(Qs(e.path().string())));
      std::string name = e.path().filename().string();
      QVERIFY(name != "config.json");
      QCOMPARE(fs::file_size(e.path()), fs::file_size(LocalFile(p, name)));
    }
    // The next copy completes the package.
    form.BtnCopy->click();
    QCoreApplication::processEvents();
    QVERIFY2(form.StatusBar1->currentMessage().endsWith("- files copied"),
             qPrintable(form.StatusBar1->currentMessage()));
    QVERIFY(fs::exists(smb.InboxDir() + "/config.json"));
  }

  void RestartSurvivesTheWindowClosingMidRequest() {
    TRpcPeer rpc;
    TProject p(rpc.Address());
    {
      TFormServers form(*p.Db);
      form.JFrame1->SetID("main");
      rpc.SetMode("ok");
      form.BtnRestart->click();
      QCOMPARE(form.StatusBar1->currentMessage(),
               QString("Server: Main, Command \"Restart Pelmora\" is executing ..."));
      form.Sender().WaitAll();
      p.Op.RunQueued();
      QCOMPARE(form.StatusBar1->currentMessage(),
               QString("Server: Main, Command \"Restart Pelmora\"  is executed successfully"));
    }
    QCOMPARE(rpc.Bodies().size(), size_t(1));
    QVERIFY(rpc.Bodies()[0].find("\"restart_pelmora\"") != std::string::npos);

    rpc.SetMode("silent");
    auto* form = new TFormServers(*p.Db);
    form->JFrame1->SetID("main");
    form->BtnRestart->click();
    for (int i = 0; i < 200 && rpc.Bodies().size() < 2; ++i) QTest::qWait(10);
    QCOMPARE(rpc.Bodies().size(), size_t(2));
    delete form;  // the request is still waiting for its answer
    p.Op.RunQueued();  // an outcome handed over afterwards reaches no window
    QCoreApplication::processEvents();
  }

  // "Preview" lists what a copy would do and writes nothing; "All servers" copies every server
  // in one progress dialog whose Cancel ends the run, and the summary names each server.
  void PreviewAndAllServersWithCancel() {
    TSmbdPeer smbA, smbB;
    TProject p(smbA.Address());
    p.Package();
    // A second server with a package of its own.
    p.Coll("Servers").NewRecord("second", TJson{{"Name", "Second"}, {"URL", smbB.Address()},
                                                {"TSched", TJson::array()}});
    p.Coll("Tree").NewRecord("Servers", TJson::parse(R"([{"_ID": "main"}, {"_ID": "second"}])"));
    fs::create_directories(p.Tmp.File("servers/Second"));
    WriteFileBytes(p.Tmp.File("servers/Second/config.json"), "[1]");
    WriteFileBytes(p.Tmp.File("servers/Second/UsedFilms.json"), "[]");
    TFormServers form(*p.Db);
    form.JFrame1->SetID("main");
    form.OnDeployRequest = [](TDeployRequest& r) { r.Credentials = TSmbCredentials{}; };

    form.BtnPreview->click();
    QCoreApplication::processEvents();
    auto* report = form.findChild<QDialog*>("FleetReport");
    QVERIFY(report);
    const std::string text = form.LastReport();
    QVERIFY2(text.find("copy\tmissing\t2\tconfig.json\n") != std::string::npos, text.c_str());
    QVERIFY2(text.find("copy\tmissing\t8388608\tf0.ts\n") != std::string::npos, text.c_str());
    QVERIFY2(text.find("8 to copy, 0 to replace, 0 unchanged") != std::string::npos, text.c_str());
    QVERIFY(fs::is_empty(smbA.InboxDir()));
    report->close();

    // Cancel while the first server's films are on their way.
    std::atomic<bool> cancelled{false};
    form.OnCopyProgress = [&](const TCopyProgress& pr) {
      if (pr.BytesDone == 0) return;
      for (int i = 0; i < 500 && !cancelled; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    bool oneDialog = true;
    QProgressDialog* first = nullptr;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!form.Running() || !form.Progress() || cancelled) return;
      if (!first) first = form.Progress();
      oneDialog = oneDialog && form.Progress() == first && !form.BtnAllServers->isEnabled();
      if (form.Progress()->value() > 0) {
        QVERIFY(form.Progress()->labelText().startsWith("Server 1 of 2: Main\n"));
        form.Progress()->findChild<QPushButton*>()->click();
        cancelled = true;
      }
    });
    poll.start();
    form.ActionCopyAll->trigger();
    poll.stop();
    QCoreApplication::processEvents();
    QVERIFY(cancelled);
    QVERIFY(oneDialog);
    std::string summary = form.LastReport().substr(form.LastReport().find("Summary\n"));
    QVERIFY2(summary.find("Main: failed: ") != std::string::npos, summary.c_str());
    QVERIFY2(summary.find("cancelled by the user") != std::string::npos, summary.c_str());
    QVERIFY2(summary.find("Second: cancelled") != std::string::npos, summary.c_str());
    QVERIFY(!fs::exists(smbB.InboxDir() + "/config.json"));

    // Without Cancel every server is copied.
    cancelled = true;
    form.ActionCopyAll->trigger();
    QCoreApplication::processEvents();
    summary = form.LastReport().substr(form.LastReport().find("Summary\n"));
    QVERIFY2(summary.find("Main: copied ") != std::string::npos, summary.c_str());
    QVERIFY2(summary.find("Second: copied 2 files, 5 bytes") != std::string::npos, summary.c_str());
    form.ActionVerifyAll->trigger();
    QCoreApplication::processEvents();
    QVERIFY2(form.LastReport().find("Main: verified: ") != std::string::npos, form.LastReport().c_str());
    QVERIFY2(form.LastReport().find("Second: verified: ") != std::string::npos, form.LastReport().c_str());
  }

private:
  // The local file behind a name on the share.
  static std::string LocalFile(const TProject& p, const std::string& name) {
    std::string film = p.Tmp.File("video/" + name);
    if (fs::exists(film)) return film;
    for (auto& e : fs::recursive_directory_iterator(p.Pkg))
      if (e.path().filename() == name) return e.path().string();
    return film;
  }
};

QTEST_MAIN(TServersWindowTest)
#include "ServersWindow.moc"
