// Two editors on one collection of a MongoDB database, each through its own connection (two
// consoles): the change counters kept on the server refuse the stale save, delete and tree save.
#include <QTest>

#include "integration/MongoTestServer.h"
#include "support/TestSupport.h"
#include "ui/JFrameTestForm.h"

namespace {
std::unique_ptr<TDbFile> Client(int port) {
  auto db = std::make_unique<TDbFile>();
  db->Collections().Add("Films");
  db->Collections().Add("Tree");
  db->SetUseMongoDb(true);
  db->Sethost("127.0.0.1");
  db->Setport(port);
  db->SetMongoDbName("pelmora");
  if (!db->Load()) throw std::runtime_error("cannot open the test database: " + db->LastError());
  return db;
}
}  // namespace

class TJFrameMongoTest : public QObject {
  Q_OBJECT
private slots:
  void TwoConnectionsCannotOverwriteEachOther() {
    TScopedFakeOperator op;
    TMongoTestServer server;
    server.Start();
    auto db1 = Client(server.Port());
    auto db2 = Client(server.Port());
    int64_t c = 0;
    QVERIFY(db1->CollectionByName("Films").NewRecord("a", TJson{{"Name", "A"}, {"Text", "ta"}}, c));
    c = 0;
    QVERIFY(db1->CollectionByName("Films").NewRecord("b", TJson{{"Name", "B"}, {"Text", "tb"}}, c));
    c = 0;
    QVERIFY(db1->CollectionByName("Tree").NewRecord(
        "Films", TJson::parse(R"([{"_ID": "a"}, {"_ID": "b"}])"), c));

    TTestForm one(*db1, "Films");
    TTestForm two(*db2, "Films");
    QCOMPARE(Shape(two.Tree()), std::string("A B"));

    two.EditText->setText("by two");
    QVERIFY(two.Frame->BtnSaveClick());
    one.EditText->setText("by one");
    QVERIFY(!one.Frame->BtnSaveClick());
    QCOMPARE(Qs(op.Messages.back().Text),
             QString("Record \"A\" can not be saved because it has been changed by another user"));
    QCOMPARE(Qs(JsonStr(*db1->CollectionByName("Films").GetRecord("a"), "Text")),
             QString("by two"));

    op.Answers.push_back(TMsgAnswer::Yes);
    one.Frame->DeleteClick();
    QCOMPARE(Qs(op.Messages.back().Text),
             QString("Record \"A\" can not be deleted because it has been changed by another user"));
    QVERIFY(db2->CollectionByName("Films").GetRecord("a"));

    // The second console adds a record; the first one's tree change is refused and reloaded.
    two.Frame->AddRecordClick();
    one.Click(one.Node("A"));
    one.Frame->MoveDownClick();
    QCOMPARE(Qs(op.Messages.back().Text),
             QString("Tree of records was updated, as it was changed by other user. Operation "
                     "isn't executed. Try again!"));
    QCOMPARE(Shape(one.Tree()), std::string("A B New record"));
    one.Frame->MoveDownClick();
    QCOMPARE(Shape(one.Tree()), std::string("B A New record"));
    two.Click(two.Node("B"));  // a click notices the newer tree
    QCOMPARE(Shape(two.Tree()), std::string("B A New record"));
  }
};

QTEST_MAIN(TJFrameMongoTest)
#include "JFrameMongo.moc"
