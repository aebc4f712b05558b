// The reference edit: display of resolved and broken references, the "O" button, the picker
// with one and with two allowed collections, drops of dragged records and the binding.
#include <QDragEnterEvent>
#include <QListWidget>
#include <QMainWindow>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "JFrame/RecTree.h"
#include "JFrame/RefEdit.h"
#include "shell/Databases.h"
#include "JFrame/FormRegistry.h"
#include "support/TestSupport.h"

namespace {
TJson J(const char* text) { return TJson::parse(text); }

// A main database in memory with two channels in a folder tree and one film.
struct TTestDb {
  std::unique_ptr<TDbFile> Db = CreateMainDatabase();
  TCollectionData Channels, Films;
  TTestDb() {
    Db->New();
    Db->CollectionByName("Channels").NewRecord("c1", J(R"({"Name": "First channel"})"));
    Db->CollectionByName("Channels").NewRecord("c2", J(R"({"Name": "Second channel"})"));
    Db->CollectionByName("Films").NewRecord("f1", J(R"({"Name": "A film"})"));
    Db->CollectionByName("Tree").NewRecord(
        "Channels", J(R"([{"text": "Sport", "_ID": "fold1", "child": [{"_ID": "c1"}]}, {"_ID": "c2"}])"));
    Db->CollectionByName("Tree").NewRecord("Films", J(R"([{"_ID": "f1"}])"));
    Db->SC("Channels", "Tree", Channels);
    Db->SC("Films", "Tree", Films);
  }
};

// An editor's tree, with the drag contents reachable.
struct TDragTree : TRecTree {
  using TRecTree::mimeData;
};

bool IsRed(const TRefEdit& e) { return e.palette().color(QPalette::Base) == QColor(Qt::red); }

QMimeData* RefMime(const std::string& id, const std::string& coll) {
  auto* mime = new QMimeData;
  TJson ref = {{"_ID", id}, {"_CL", coll}};
  mime->setData(RefMimeType, QByteArray::fromStdString(ref.dump()));
  return mime;
}
}  // namespace

class TRefEditTest : public QObject {
  Q_OBJECT
private slots:
  void ResolvedReferenceShowsNameAndOpenButton() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.setObjectName("EditChannel");
    e.AddCollData(t.Channels);
    QCOMPARE(e.Button()->objectName(), QString("EditChannelBtn"));
    QCOMPARE(e.BtnOpen()->objectName(), QString("EditChannelBtnOpen"));
    QSignalSpy changed(&e, &TRefEdit::Changed);
    e.SetRecordID({"c2", "Channels"});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(e.text(), QString("Second channel"));
    QVERIFY(!IsRed(e));
    QVERIFY(!e.BtnOpen()->isHidden());
    QVERIFY(e.alignment() & Qt::AlignLeft);
    QCOMPARE(e.CurrCollData().Records, t.Channels.Records);
  }

  void DeletedTargetIsEmptyRedAndHidesOpen() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.AddCollData(t.Channels);
    e.SetRecordID({"c1", "Channels"});
    QVERIFY(!e.BtnOpen()->isHidden());
    t.Db->CollectionByName("Channels").DelRecord("c1");
    e.SetRecordID({"c1", "Channels"});
    QCOMPARE(e.text(), QString());
    QVERIFY(IsRed(e));
    QVERIFY(e.MarkedAsError());
    QVERIFY(e.BtnOpen()->isHidden());
    QVERIFY(!e.Button()->isHidden());
    QVERIFY(e.alignment() & Qt::AlignHCenter);
    // The reference itself is kept.
    QCOMPARE(e.RecordID()._ID, std::string("c1"));

    TRefEdit empty;
    empty.SetEnableEmpty(true);
    empty.AddCollData(t.Channels);
    empty.SetRecordID({"c1", "Channels"});
    QCOMPARE(empty.text(), QString());
    QVERIFY(!IsRed(empty));
    QVERIFY(empty.BtnOpen()->isHidden());
  }

  void UnknownCollectionKeepsTheCurrentOne() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.AddCollData(t.Channels);
    e.AddCollData(t.Films);
    e.SetRecordID({"f1", "Films"});
    QCOMPARE(e.text(), QString("A film"));
    e.SetRecordID({"c1", "Servers"});
    QCOMPARE(e.CurrCollData().Records, t.Films.Records);
    QCOMPARE(e.text(), QString());
  }

  void OpenButtonOpensTheTargetsEditor() {
    TScopedFakeOperator op;
    TTestDb t;
    std::vector<std::pair<std::string, std::string>> shown;
    SetFormShowHandler([&](TDbCollectionItem& c, const std::string& id) {
      shown.emplace_back(c.Name(), id);
    });
    struct TReset {
      ~TReset() { SetFormShowHandler(nullptr); }
    } reset;
    TRefEdit e;
    e.AddCollData(t.Channels);
    e.SetRecordID({"c2", "Channels"});
    e.BtnOpen()->click();
    QCOMPARE(shown.size(), size_t(1));
    QCOMPARE(shown[0].first, std::string("Channels"));
    QCOMPARE(shown[0].second, std::string("c2"));
    e.SetRecordID({"", "Channels"});
    e.BtnOpenClick();
    QCOMPARE(shown.size(), size_t(1));
  }

  void EnabledAndVisibleCoverTheButtons() {
    TScopedFakeOperator op;
    TTestDb t;
    QWidget w;
    auto* e = new TRefEdit(&w);
    e->AddCollData(t.Channels);
    e->SetRecordID({"c2", "Channels"});
    w.show();
    QVERIFY(e->Button()->isVisible());
    e->setEnabled(false);
    QVERIFY(!e->Button()->isEnabled());
    e->setEnabled(true);
    e->setVisible(false);
    QVERIFY(!e->Button()->isVisible());
    QVERIFY(!e->BtnOpen()->isVisible());
  }

  void PickerWithOneCollectionOpensOnTreeWithTargetSelected() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.setObjectName("EditChannel");
    e.SetTreeCaption("Channels");
    e.AddCollData(t.Channels);
    e.SetRecordID({"c1", "Channels"});
    TRefEditPicker* p = e.CreatePicker();
    QCOMPARE(p->objectName(), QString("EditChanneldForm"));
    QCOMPARE(p->TreeView()->objectName(), QString("EditChanneldFormTreeView"));
    QCOMPARE(p->ListBox()->objectName(), QString("EditChanneldFormListBox"));
    QCOMPARE(p->Panel()->objectName(), QString("EditChanneldFormPanel"));
    QCOMPARE(p->windowTitle(), QString("Channels"));
    QCOMPARE(p->size(), QSize(400, 400));
    QVERIFY(p->ListBox()->isHidden());
    QVERIFY(!p->TreeView()->isHidden());
    QVERIFY(p->BtnBack()->isHidden());
    QVERIFY(p->BtnClear() == nullptr);  // no "Clear" without EnableEmpty
    QVERIFY(p->TreeView()->currentItem() != nullptr);
    QCOMPARE(p->TreeView()->GetObjectID(p->TreeView()->currentItem()), std::string("c1"));
    // Taking another record sets the reference and closes the picker.
    QTreeWidgetItem* c2 = p->TreeView()->FindNode("c2");
    QVERIFY(c2);
    p->TreeView()->setCurrentItem(c2);
    p->BtnSelect()->click();
    QCOMPARE(e.RecordID()._ID, std::string("c2"));
    QCOMPARE(e.RecordID().Collection, std::string("Channels"));
    QVERIFY(e.Picker() == nullptr);
  }

  void TakingAFolderDoesNothing() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.AddCollData(t.Channels);
    e.SetRecordID({"c2", "Channels"});
    TRefEditPicker* p = e.CreatePicker();
    QTreeWidgetItem* folder = p->TreeView()->FindNode("fold1", true);
    QVERIFY(folder);
    QVERIFY(TRecTree::NodIsFolder(folder));
    QSignalSpy changed(&e, &TRefEdit::Changed);
    QVERIFY(!p->TakeNode(folder));
    p->TreeView()->setCurrentItem(folder);
    p->BtnSelect()->click();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(e.RecordID()._ID, std::string("c2"));
    QVERIFY(e.Picker() == p);
    // A double click on a record takes it.
    emit p->TreeView()->itemDoubleClicked(p->TreeView()->FindNode("c1"), 0);
    QCOMPARE(e.RecordID()._ID, std::string("c1"));
    QVERIFY(e.Picker() == nullptr);
  }

  void PickerWithTwoCollections() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.SetEnableEmpty(true);
    e.AddCollData(t.Channels);
    e.AddCollData(t.Films);
    // Empty reference: the list of collections by their names.
    TRefEditPicker* p = e.CreatePicker();
    QVERIFY(!p->ListBox()->isHidden());
    QVERIFY(p->TreeView()->isHidden());
    QCOMPARE(p->ListBox()->count(), 2);
    QCOMPARE(p->ListBox()->item(0)->text(), QString::fromStdString(t.Channels.Records->GetName()));
    QCOMPARE(p->ListBox()->item(1)->text(), QString("Movies"));
    QVERIFY(p->BtnClear() != nullptr);
    // "Select" on the list opens the chosen collection's tree, "<< Back" returns.
    p->ListBox()->setCurrentRow(1);
    p->BtnSelect()->click();
    QVERIFY(p->ListBox()->isHidden());
    QVERIFY(!p->TreeView()->isHidden());
    QVERIFY(!p->BtnBack()->isHidden());
    QCOMPARE(p->ShownCollection()->Records, t.Films.Records);
    p->BtnBack()->click();
    QVERIFY(!p->ListBox()->isHidden());
    QVERIFY(p->TreeView()->isHidden());
    p->ListBox()->setCurrentRow(1);
    p->BtnSelect()->click();
    p->TreeView()->setCurrentItem(p->TreeView()->FindNode("f1"));
    p->BtnSelect()->click();
    QCOMPARE(e.RecordID().Collection, std::string("Films"));
    QCOMPARE(e.text(), QString("A film"));

    // With a target: straight onto its collection's tree with the target selected.
    TRefEditPicker* p2 = e.CreatePicker();
    QVERIFY(p2->ListBox()->isHidden());
    QCOMPARE(p2->ShownCollection()->Records, t.Films.Records);
    QCOMPARE(p2->TreeView()->GetObjectID(p2->TreeView()->currentItem()), std::string("f1"));
    // "Clear" empties the reference.
    p2->BtnClear()->click();
    QCOMPARE(e.RecordID()._ID, std::string());
    QCOMPARE(e.RecordID().Collection, std::string());
    QVERIFY(!IsRed(e));
  }

  void ButtonShowsPickerModallyCentred() {
    TScopedFakeOperator op;
    TTestDb t;
    QMainWindow w;
    w.setGeometry(100, 100, 900, 700);
    auto* central = new QWidget(&w);
    w.setCentralWidget(central);
    auto* e = new TRefEdit(central);
    e->setGeometry(10, 10, 200, 24);
    e->AddCollData(t.Channels);
    e->SetRecordID({"c2", "Channels"});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPoint pos;
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
      TRefEditPicker* p = e->Picker();
      if (!p) return;
      wasModal = p->isModal() && p->isVisible();
      pos = p->pos();
      emit p->TreeView()->itemDoubleClicked(p->TreeView()->FindNode("c1"), 0);
    });
    e->Button()->click();
    QVERIFY(wasModal);
    QCOMPARE(e->RecordID()._ID, std::string("c1"));
    QRect area(central->mapToGlobal(QPoint(0, 0)), central->size());
    QCOMPARE(pos, QPoint(area.left() + (area.width() - 400) / 2, area.top() + (area.height() - 400) / 2));
    QVERIFY(e->Picker() == nullptr);
  }

  void PickerNeverLeftOrAboveTheClientArea() {
    QWidget w;
    w.setGeometry(300, 200, 100, 80);
    auto* e = new TRefEdit(&w);
    w.show();
    QPoint p = CenteredDialogPos(e, QSize(400, 400));
    QCOMPARE(p, w.mapToGlobal(QPoint(0, 0)));
    TRefEdit alone;
    QCOMPARE(CenteredDialogPos(&alone, QSize(400, 400)), QPoint(50, 50));
  }

  void DropOfAnAllowedRecordSetsTheReference() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.AddCollData(t.Channels);
    std::unique_ptr<QMimeData> film(RefMime("f1", "Films"));
    std::unique_ptr<QMimeData> channel(RefMime("c2", "Channels"));
    QCOMPARE(QString(RefMimeType), RecordRefMimeType());  // what the editors' trees drag
    QVERIFY(!e.AcceptsDrag(film.get()));
    QVERIFY(e.AcceptsDrag(channel.get()));
    QMimeData text;
    text.setText(R"({"_ID": "c2", "_CL": "Channels"})");
    QVERIFY(!e.AcceptsDrag(&text));
    // The window may still refuse.
    e.OnDragOver = [](TRefEdit*, const TrefID& r) { return r._ID != "c2"; };
    QVERIFY(!e.AcceptsDrag(channel.get()));
    e.OnDragOver = nullptr;

    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, film.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&e, &refused);
    QVERIFY(!refused.isAccepted());
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, channel.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&e, &enter);  // makes the edit the drop target
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, channel.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&e, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(e.RecordID()._ID, std::string("c2"));
    QCOMPARE(e.text(), QString("Second channel"));
  }

  void DropFromAnEditorsTree() {
    TScopedFakeOperator op;
    TTestDb t;
    TDragTree tree;
    tree.SetCollectionsData(t.Channels);
    tree.Load();
    QTreeWidgetItem* c1 = tree.FindNode("c1");
    QVERIFY(c1);
    std::unique_ptr<QMimeData> mime(tree.mimeData({c1}));
    TRefEdit e;
    e.AddCollData(t.Channels);
    TrefID ref;
    QVERIFY(e.AcceptsDrag(mime.get(), &ref));
    QCOMPARE(ref._ID, std::string("c1"));
    QCOMPARE(ref.Collection, std::string("Channels"));
    // A folder carries no reference.
    std::unique_ptr<QMimeData> folder(tree.mimeData({tree.FindNode("fold1", true)}));
    QVERIFY(!e.AcceptsDrag(folder.get()));
    TRefEdit films;
    films.AddCollData(t.Films);
    QVERIFY(!films.AcceptsDrag(mime.get()));
  }

  void BindsAsReferenceObject() {
    TScopedFakeOperator op;
    TTestDb t;
    TRefEdit e;
    e.AddCollData(t.Channels);
    TLayerOfComps layer(nullptr, stNew, nullptr, "Common");
    layer.AddComp("Channel", &e, vt_String);
    QVERIFY(JsonEqual(layer.Default(), J(R"({"Channel": {"_ID": "", "_CL": ""}})")));
    layer.SetCompInfo(J(R"({"Channel": {"_ID": "c1", "_CL": "Channels"}})"));
    QCOMPARE(e.text(), QString("First channel"));
    e.SetRecordID({"c2", "Channels"});
    TJson out = layer.GetCompInfo();
    QVERIFY2(JsonEqual(out, J(R"({"Channel": {"_ID": "c2", "_CL": "Channels"}})")), out.dump().c_str());
    layer.SetCompInfo(TJson::object());
    QCOMPARE(e.RecordID()._ID, std::string());
  }
};

QTEST_MAIN(TRefEditTest)
#include "RefEdit.moc"
