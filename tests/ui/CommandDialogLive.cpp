// Commands made in the command dialog as an operator makes them, sent to a JSON-RPC 2.0 peer on
// 127.0.0.1: the bodies the peer receives carry exactly what the dialog showed.
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>

#include "JFrame/FloatSpin.h"
#include "integration/Peers.h"
#include "schedule/forms/ChShCommands.h"
#include "servers/PostAndGet.h"
#include "ui/UiProject.h"

class TCommandDialogLiveTest : public QObject {
  Q_OBJECT
private slots:
  void ShowWebPageAndShowTextAreSentAsShown() {
    TUiProject p;
    TRpcPeer peer;
    peer.SetMode("ok");
    TFormChShCommands dlg(nullptr, TJson::array(), elmt_Button, p.Db.get());
    auto pick = [&](const QString& text) {
      auto found = dlg.TreeViewExistingCmd->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
      QVERIFY(!found.isEmpty());
      dlg.TreeViewExistingCmd->setCurrentItem(found[0]);
      dlg.ButtonAddClick();
    };
    pick("Show Web-page");
    dlg.EditCust2->setText("frame");
    dlg.EditCust1->setText("pages\\news.html");  // what the page picker writes for a page below the root
    dlg.DateTimeEditSTime->SetValueAsText("0 00:01:00");
    pick("Show text");
    dlg.EditCust2->setText("ticker");
    dlg.Memo1->setPlainText("Hello");
    // The timeout is left as the dialog shows it.
    QCOMPARE(dlg.DateTimeEditSTime->ValueAsText(), QString("0 00:00:00"));
    TJson saved;
    dlg.fonCmdsValueSaved = [&](QObject*, const TJson& l) { saved = l; };
    dlg.ButtonSaveClick();
    QCOMPARE(saved.size(), size_t(2));
    QCOMPARE(QString::fromStdString(JsonStr(saved[1]["showtext"], "Time")), QString("0 00:00:00"));

    TRpcSender sender(p.Op);
    std::vector<std::string> status;
    for (const TJson& cmd : saved)
      sender.SendCommand(cmd, "Hall 1", peer.Address(), [&](const std::string& t) { status.push_back(t); },
                         "Server: Main");
    sender.WaitAll();
    p.Op.RunQueued();
    std::vector<std::string> bodies = peer.Bodies();
    QCOMPARE(bodies.size(), size_t(2));
    std::sort(bodies.begin(), bodies.end());  // the two requests run side by side
    QCOMPARE(QString::fromStdString(bodies[0]),
             QString(R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showpage",["frame","pages\\news.html","60000"]]})"));
    QCOMPARE(QString::fromStdString(bodies[1]),
             QString(R"({"jsonrpc":"2.0","method":"command","id":123,"params":["Hall 1",null,"showtext",["ticker","Hello","0"]]})"));
    for (const char* d : {"Show Web-page", "Show text"}) {
      const std::string ok = std::string("Server: Main, Group: Hall 1, Command \"") + d + "\"  is executed successfully";
      QVERIFY2(std::find(status.begin(), status.end(), ok) != status.end(), ok.c_str());
    }
  }
};

QTEST_MAIN(TCommandDialogLiveTest)
#include "CommandDialogLive.moc"
