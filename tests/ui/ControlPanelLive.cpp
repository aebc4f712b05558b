// Control panels against real peers: a button and a text box's "Send text" reaching the
// JSON-RPC endpoint with the exact request bodies, and a player whose UDP stream from ffmpeg
// stops being started again by its watchdog.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextCursor>
#include <QTest>
#include <QTimer>

#include "catalogue/PasLibVlcPlayer.h"
#include "control/forms/ControlElements.h"
#include "control/forms/ControlPanel.h"
#include "integration/Peers.h"
#include "servers/PostAndGet.h"
#include "ui/UiProject.h"

extern char** environ;

namespace {

TJson J(const std::string& text) { return TJson::parse(text); }

// ffmpeg sending a test picture as an MPEG transport stream to udp://127.0.0.1:Port.
class TUdpStream {
public:
  explicit TUdpStream(int port) {
    const std::string out = "udp://127.0.0.1:" + std::to_string(port) + "?pkt_size=1316";
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi",
                                     "-i", "testsrc=size=160x90:rate=25", "-c:v", "mpeg2video",
                                     "-f", "mpegts", out};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&FPid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) FPid = -1;
  }
  ~TUdpStream() { Stop(); }
  bool Running() const { return FPid > 0; }
  void Stop() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

private:
  pid_t FPid = -1;
};

// Runs the work the players and the sender post for the user-interface thread while the test
// waits.
void WaitPumping(TFakeOperator& op, int ms) {
  QTimer pump;
  QObject::connect(&pump, &QTimer::timeout, [&op] { op.RunQueued(); });
  pump.start(20);
  QTest::qWait(ms);
  op.RunQueued();
}

}  // namespace

class TControlPanelLiveTest : public QObject {
  Q_OBJECT
private slots:
  void AButtonAndSendTextReachThePeerWithTheExactBodies() {
    TUiProject p;
    TRpcPeer peer;
    p.Coll("Servers").NewRecord("srv", TJson{{"Name", "Main"}, {"URL", peer.Address()}});
    p.Coll("Groups").NewRecord("g1", J(R"({"Name": "Hall 1"})"));
    p.Coll("OnLineContr").NewRecord("p1", J(R"({"Name": "Hall", "Table": [
      {"Type": 1, "Name": "Power", "PosX": 10, "PosY": 10, "Width": 100, "Height": 100,
       "Server": {"_ID": "srv", "_CL": "Servers"}, "Group": {"_ID": "g1", "_CL": "Groups"},
       "Cmds": [{"stbpower": {"Method": "command", "Value": "1", "Delay": 0}}]},
      {"Type": 3, "Name": "Ticker", "PosX": 150, "PosY": 10, "Width": 200, "Height": 120,
       "Server": {"_ID": "srv", "_CL": "Servers"}, "Group": {"_ID": "g1", "_CL": "Groups"},
       "Cmds": [{"showtext": {"Method": "command", "Value": "ticker", "Text": "", "Time": "0 00:00:10", "Delay": 0}}]}
    ]})"));
    TFormControlPanel panel(nullptr, *p.Db, "p1", false);
    QTest::mouseClick(panel.ElementByTag(0), Qt::LeftButton);
    panel.Sender().WaitAll();
    auto* box = static_cast<TDockedMemoBox*>(panel.ElementByTag(1));
    box->Memo->setPlainText("Hello, hall");
    QTest::mouseClick(box->Btn, Qt::LeftButton);
    panel.Sender().WaitAll();
    QCOMPARE(peer.Bodies(), std::vector<std::string>({
        R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"stbpower",["1"]]})",
        R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showtext",["ticker","Hello, hall","10000"]]})"}));
    QCOMPARE(peer.Paths(), std::vector<std::string>({"/rpc", "/rpc"}));
    p.Op.RunQueued();
    QVERIFY2(panel.StatusBar1->currentMessage().endsWith("is executed successfully"),
             qPrintable(panel.StatusBar1->currentMessage()));
    QVERIFY(panel.StatusBar1->currentMessage().startsWith("Server: Main"));
  }

  // The HTML box sends the fragment as the operator typed it: markup and attributes kept, no
  // document of the editor's own around it.
  void TheHtmlBoxSendsTheBodyAsTyped() {
    TUiProject p;
    TRpcPeer peer;
    p.Coll("Servers").NewRecord("srv", TJson{{"Name", "Main"}, {"URL", peer.Address()}});
    p.Coll("Groups").NewRecord("g1", J(R"({"Name": "Hall 1"})"));
    TJson show = {{"Method", "command"}, {"Value", "page"}, {"Text", "<p class=\"news\">Old</p>"},
                  {"Time", "0 00:00:10"}, {"Delay", 0}};
    TJson element = {{"Type", 5}, {"Name", "Page"}, {"PosX", 10}, {"PosY", 10}, {"Width", 300},
                     {"Height", 150}, {"Server", {{"_ID", "srv"}, {"_CL", "Servers"}}},
                     {"Group", {{"_ID", "g1"}, {"_CL", "Groups"}}},
                     {"Cmds", TJson::array({{{"showtext", show}}})}};
    p.Coll("OnLineContr").NewRecord("p1", TJson{{"Name", "Hall"}, {"Table", TJson::array({element})}});
    TFormControlPanel panel(nullptr, *p.Db, "p1", false);
    auto* box = static_cast<TDockedHTMLEditorBox*>(panel.ElementByTag(0));
    box->HTMLedit->moveCursor(QTextCursor::End);
    QTest::keyClicks(box->HTMLedit, "<b class=\"x\">New</b>");
    QTest::mouseClick(box->Btn, Qt::LeftButton);
    panel.Sender().WaitAll();
    const std::string want =
        "{\"jsonrpc\":\"2.0\",\"method\":\"command\",\"id\":123,\"params\":[\"Hall 1\",null,"
        "\"showtext\",[\"page\",\"<p class=\\\"news\\\">Old</p><b class=\\\"x\\\">New</b>\","
        "\"10000\"]]}";
    QCOMPARE(peer.Bodies(), std::vector<std::string>({want}));
  }

  void TheWatchdogStartsAStalledStreamAgain() {
    TUiProject p;
    const int port = FreeLoopbackPort();
    p.Coll("Options").NewRecord("Options", J(R"({"PlayChannels": true})"));
    p.Coll("Channels").NewRecord("ch1", TJson{{"Name", "News"}, {"URL", "IGMP://127.0.0.1:" + std::to_string(port)}});
    p.Coll("OnLineContr").NewRecord("p1", J(R"({"Name": "Hall", "Table": [
      {"Type": 4, "Name": "News live", "PosX": 0, "PosY": 0, "Width": 320, "Height": 180,
       "Channel": {"_ID": "ch1", "_CL": "Channels"}, "Mute": true}]})"));
    TUdpStream stream(port);
    QVERIFY(stream.Running());
    TFormControlPanel panel(nullptr, *p.Db, "p1", false);
    auto* player = dynamic_cast<TDockedPlayer*>(panel.ElementByTag(0));
    QVERIFY(player && player->Player());
    QCOMPARE(player->FLastUrl, "udp://@127.0.0.1:" + std::to_string(port));
    QCOMPARE(player->PlayCount(), 1);
    QCOMPARE(player->OverlayText(), std::string("News live"));
    // Longer than the start watchdog: the running stream's position changes keep it quiet.
    WaitPumping(p.Op, playerStartWatchdogMs + 1500);
    QCOMPARE(player->PlayCount(), 1);
    QVERIFY(player->Player()->IsPlay());
    // The stream stops: within the stall time (and a little) the address is played again.
    stream.Stop();
    WaitPumping(p.Op, playerStallWatchdogMs + 1500);
    QCOMPARE(player->PlayCount(), 2);
  }
};

QTEST_MAIN(TControlPanelLiveTest)
#include "ControlPanelLive.moc"
