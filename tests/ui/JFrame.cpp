// The record editor frame driven as the operator drives it: selecting nodes, editing, adding,
// copying, deleting and moving, with two frames on one collection for the conflict rules.
#include <QLineEdit>
#include <fstream>
#include <sstream>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/JFrameTestForm.h"
#include "ui/UiProject.h"

namespace {
struct TDb : TUiProject {
  TDbCollectionItem& Films() { return Db->CollectionByName("Films"); }
  TDbCollectionItem& Tree() { return Db->CollectionByName("Tree"); }
  std::optional<TJson> TreeDoc() { return Tree().GetRecord("Films"); }
  // Films "A" and "B" at the top level, a folder "F" holding film "C".
  void Seed() {
    Films().NewRecord("a", TJson{{"Name", "A"}, {"Text", "ta"}});
    Films().NewRecord("b", TJson{{"Name", "B"}, {"Text", "tb"}});
    Films().NewRecord("c", TJson{{"Name", "C"}, {"Text", "tc"}});
    Tree().NewRecord("Films", TJson::parse(R"([{"_ID": "a"}, {"_ID": "b"},
        {"text": "F", "child": [{"_ID": "c"}], "_ID": "f"}])"));
  }
};

// A record as the project file on disk holds it (null when it is not there).
TJson OnDisk(TDb& db, const std::string& coll, const std::string& id) {
  std::ifstream f(db.Db->FileName(), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  const TJson doc = ParseJsonText(ss.str());
  if (!doc.contains(coll) || !doc[coll].contains(id)) return nullptr;
  return doc[coll][id];
}

}  // namespace

class TJFrameTest : public QObject {
  Q_OBJECT
private slots:
  void EmptyCollectionCreatesItsTreeOnFirstAdd() {
    TDb db;
    TTestForm form(*db.Db, "Films");
    QCOMPARE(form.Tree()->topLevelItemCount(), 0);
    QVERIFY(!db.TreeDoc());
    QVERIFY(form.Frame->EditName()->isReadOnly());
    form.Frame->AddRecordClick();
    std::optional<TJson> doc = db.TreeDoc();
    QVERIFY(doc && doc->is_array() && doc->size() == 1);
    const std::string id = JsonStr((*doc)[0], "_ID");
    QVERIFY(!id.empty());
    QVERIFY((*doc)[0].size() == 1);  // a record entry holds its identifier only
    std::optional<TJson> rec = db.Films().GetRecord(id);
    QVERIFY(rec);
    QCOMPARE(Qs(JsonStr(*rec, "Name")), QString("New record"));
    QVERIFY(!rec->contains("_ID"));
    QCOMPARE(form.Frame->ID(), id);
    QCOMPARE(form.Form.windowTitle(), QString("Films - New record"));
    QVERIFY(db.Op.Messages.empty());
  }

  void NothingSelectedAddsAtTheTopLevel() {
    TDb db;
    TTestForm form(*db.Db, "Films");
    auto unselect = [&] {
      QSignalBlocker quiet(form.Tree());
      form.Tree()->clearSelection();
    };
    form.Frame->AddFolderClick();
    unselect();
    form.Frame->AddSubFolderClick();
    unselect();
    form.Frame->AddRecordClick();
    QCOMPARE(form.Tree()->topLevelItemCount(), 3);
    TJson doc = *db.TreeDoc();
    QVERIFY(doc[0].contains("child") && doc[1].contains("child"));
    QCOMPARE(Qs(JsonStr(doc[0], "text")), QString("New folder"));
    QVERIFY(!doc[2].contains("child"));
  }

  void RecordAddedBelowARecordIsItsSibling() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    form.Tree()->expandAll();
    form.Click(form.Node("C"));
    QCOMPARE(form.Shown(), std::string("C"));
    form.Frame->AddRecordClick();
    QCOMPARE(Shape(form.Tree()), std::string("A B F[C New record]"));
    form.Click(form.Node("A"));
    form.Frame->AddRecordClick();
    QCOMPARE(Shape(form.Tree()), std::string("A B F[C New record] New record"));
    // Below a folder: its last child.
    form.Click(form.Node("F"));
    form.Frame->AddSubFolderClick();
    QCOMPARE(Shape(form.Tree()), std::string("A B F[C New record New folder[]] New record"));
    TJson doc = *db.TreeDoc();
    QCOMPARE(doc.size(), size_t(4));
    QCOMPARE(doc[2]["child"].size(), size_t(3));
  }

  void LeavingPromptsOnlyAfterAnEdit() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    QCOMPARE(form.Shown(), std::string("A"));  // the first node is shown
    QCOMPARE(form.EditText->text(), QString("ta"));
    form.Click(form.Node("B"));
    QVERIFY(db.Op.Messages.empty());
    QCOMPARE(form.EditText->text(), QString("tb"));

    form.EditText->setText("edited");
    db.Op.Answers.push_back(TMsgAnswer::Cancel);
    form.Click(form.Node("A"));
    QCOMPARE(db.Op.Messages.size(), size_t(1));
    QCOMPARE(Qs(db.Op.Messages[0].Text), QString("Record \"B\" was changed! Save changes?"));
    QCOMPARE(form.Tree()->currentItem(), form.Node("B"));
    QCOMPARE(form.EditText->text(), QString("edited"));

    db.Op.Answers.push_back(TMsgAnswer::No);
    form.Click(form.Node("A"));
    QCOMPARE(db.Op.Messages.size(), size_t(2));
    QCOMPARE(form.EditText->text(), QString("ta"));
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("b"), "Text")), QString("tb"));
    form.Click(form.Node("B"));
    QCOMPARE(db.Op.Messages.size(), size_t(2));  // the dropped edit asks nothing more

    form.EditText->setText("saved");
    form.Frame->EditName()->setText("B2");
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    form.Click(form.Node("A"));
    QCOMPARE(db.Op.Messages.size(), size_t(3));
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("b"), "Text")), QString("saved"));
    QVERIFY(form.Node("B2"));  // the node took the saved name
  }

  void KeysTheWindowDoesNotShowSurviveASave() {
    TDb db;
    db.Seed();
    db.Films().UpdateRecord("b", TJson{{"Name", "B"}, {"Text", "tb"}, {"Old", 1},
                                       {"Nested", {{"x", 2}}}});
    TTestForm form(*db.Db, "Films");
    form.Click(form.Node("B"));
    QVERIFY(!form.Frame->WasChanges());
    form.Click(form.Node("A"));
    QVERIFY(db.Op.Messages.empty());
    form.Click(form.Node("B"));
    form.EditText->setText("edited");
    QVERIFY(form.Frame->BtnSaveClick());
    QVERIFY(JsonEqual(*db.Films().GetRecord("b"), TJson{{"Name", "B"}, {"Text", "edited"},
                                                      {"Old", 1}, {"Nested", {{"x", 2}}}}));
    // A copy carries them too.
    form.Frame->CopyClick();
    form.Frame->PasteClick();
    const TJson copy = *db.Films().GetRecord(form.Frame->ID());
    QVERIFY(JsonEqual(copy, TJson{{"Name", "B-Copy"}, {"Text", "edited"}, {"Old", 1},
                                  {"Nested", {{"x", 2}}}}));
    // A bound key the window leaves out of its record is not stored; the others stay.
    form.Click(form.Node("B"));
    form.Frame->OnCompToRecord = [](TJFrame*, TJson& rec) { rec.erase("Text"); };
    QVERIFY(form.Frame->WasChanges());
    QVERIFY(form.Frame->BtnSaveClick());
    QVERIFY(JsonEqual(*db.Films().GetRecord("b"),
                      TJson{{"Name", "B"}, {"Old", 1}, {"Nested", {{"x", 2}}}}));
    QVERIFY(!form.Frame->WasChanges());
  }

  void ARecordLackingABoundKeyIsNotChanged() {
    TDb db;
    db.Seed();
    db.Films().UpdateRecord("b", TJson{{"Name", "B"}});  // "Text" absent: its control shows ""
    TTestForm form(*db.Db, "Films");
    form.Click(form.Node("B"));
    QVERIFY(!form.Frame->WasChanges());
    QVERIFY(form.Frame->AskChangesSaveNo());
    form.Click(form.Node("A"));
    QVERIFY(db.Op.Messages.empty());
    form.Click(form.Node("B"));
    form.EditText->setText("now");
    QVERIFY(form.Frame->WasChanges());
  }

  void EditsAfterCopyAreAskedAbout() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    form.Frame->CopyClick();  // unchanged: no question, A stays the record being edited
    QVERIFY(db.Op.Messages.empty());
    QCOMPARE(form.Frame->LastTreeNode(), form.Node("A"));
    form.EditText->setText("after copy");
    QVERIFY(form.Frame->WasChanges());
    // An action that wants the record saved asks and saves.
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    QVERIFY(form.Frame->AskChangesSaveNo());
    QCOMPARE(db.Op.Messages.size(), size_t(1));
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("a"), "Text")), QString("after copy"));
    QVERIFY(form.Frame->AskChangesSaveNo());  // nothing unsaved, the record still shown
    // Leaving after another copy and an edit asks too.
    form.Frame->CopyClick();
    form.EditText->setText("second");
    db.Op.Answers.push_back(TMsgAnswer::Cancel);
    form.Click(form.Node("B"));
    QCOMPARE(db.Op.Messages.size(), size_t(2));
    QCOMPARE(Qs(db.Op.Messages.back().Text), QString("Record \"A\" was changed! Save changes?"));
    QCOMPARE(form.EditText->text(), QString("second"));
    // Copy with an edit, answered No: the edit stays and is asked about on leaving.
    db.Op.Answers.push_back(TMsgAnswer::No);
    form.Frame->CopyClick();
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    form.Click(form.Node("B"));
    QCOMPARE(db.Op.Messages.size(), size_t(4));
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("a"), "Text")), QString("second"));
  }

  void AFailedWriteIsNamedAndChangesNothing() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    form.EditText->setText("unsaved");
    {
      TFailingWrites full;
      QVERIFY(!form.Frame->BtnSaveClick());
    }
    QCOMPARE(db.Op.Messages.size(), size_t(1));
    const QString text = Qs(db.Op.Messages[0].Text);
    QVERIFY2(text.startsWith("Record \"A\" can not be saved: ") &&
                 text.contains(Qs(TFailingWrites::Reason())),
             qPrintable(text));
    QCOMPARE(form.EditText->text(), QString("unsaved"));
    QVERIFY(form.Frame->WasChanges());
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("a"), "Text")), QString("ta"));
    QCOMPARE(Qs(JsonStr(OnDisk(db, "Films", "a"), "Text")), QString("ta"));
    // Another change written meanwhile does not take the unsaved edit along.
    QVERIFY(db.Films().UpdateRecord("b", TJson{{"Name", "B"}, {"Text", "tb2"}}));
    QCOMPARE(Qs(JsonStr(OnDisk(db, "Films", "a"), "Text")), QString("ta"));
    // Once the disk takes writes again the same Save works, with no conflict.
    QVERIFY(form.Frame->BtnSaveClick());
    QCOMPARE(db.Op.Messages.size(), size_t(1));
    QCOMPARE(Qs(JsonStr(OnDisk(db, "Films", "a"), "Text")), QString("unsaved"));
    // Cancel after a failed save shows what is stored.
    form.EditText->setText("dropped");
    {
      TFailingWrites full;
      QVERIFY(!form.Frame->BtnSaveClick());
    }
    form.Frame->BtnCancelClick();
    QCOMPARE(form.EditText->text(), QString("unsaved"));
    // A delete that cannot be written keeps the record.
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    {
      TFailingWrites full;
      form.Frame->DeleteClick();
    }
    QVERIFY(Qs(db.Op.Messages.back().Text).startsWith("Record \"A\" can not be deleted: "));
    QVERIFY(db.Films().GetRecord("a"));
    QVERIFY(form.Node("A"));
    QVERIFY(!OnDisk(db, "Films", "a").is_null());
  }

  void AddingOnAFailingDiskLeavesNoEntry() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    const std::string shape = Shape(form.Tree());
    {
      TFailingWrites full;
      form.Frame->AddRecordClick();
      form.Frame->AddFolderClick();
    }
    QCOMPARE(db.Op.Messages.size(), size_t(2));
    for (const auto& m : db.Op.Messages) {
      const QString text = Qs(m.Text);
      QVERIFY2(text.startsWith("The tree of records can not be saved: ") &&
                   text.contains(Qs(TFailingWrites::Reason())),
               qPrintable(text));
    }
    QCOMPARE(Shape(form.Tree()), shape);
    QCOMPARE(db.TreeDoc()->size(), size_t(3));
    // The next successful save writes no ghost entry.
    form.EditText->setText("saved");
    QVERIFY(form.Frame->BtnSaveClick());
    QCOMPARE(OnDisk(db, "Tree", "Films").size(), size_t(3));
    form.Frame->AddRecordClick();
    QCOMPARE(db.TreeDoc()->size(), size_t(4));
    QCOMPARE(db.Op.Messages.size(), size_t(2));
  }

  void SaveButtonSavesAndKeepsTheRecordShown() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    form.EditText->setText("new text");
    QVERIFY(form.Frame->BtnSaveClick());
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("a"), "Text")), QString("new text"));
    QVERIFY(!form.Frame->WasChanges());
    QCOMPARE(form.Tree()->currentItem(), form.Node("A"));
    bool vetoed = false;
    form.Frame->OnSaveRecord = [&](TJFrame*, bool& can) { can = false; vetoed = true; };
    form.EditText->setText("refused");
    QVERIFY(!form.Frame->BtnSaveClick());
    QVERIFY(vetoed);
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("a"), "Text")), QString("new text"));
    // Cancel drops the edits.
    form.Frame->BtnCancelClick();
    QCOMPARE(form.EditText->text(), QString("new text"));
    // Renaming a folder.
    form.Click(form.Node("F"));
    QCOMPARE(form.Pages->currentWidget(), form.TabTree);
    form.Frame->EditName()->setText("Folder 2");
    form.Frame->BtnSaveClick();
    QCOMPARE(Qs(JsonStr((*db.TreeDoc())[2], "text")), QString("Folder 2"));
  }

  void CopyPasteNamesTheCopyAndRaisesTheEvent() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    std::vector<bool> events;
    form.Frame->OnNewRecordAdded = [&](TJFrame*, bool wasPaste) { events.push_back(wasPaste); };
    QVERIFY(!form.Frame->PasteMenuItem()->isEnabled());
    form.Frame->PasteClick();  // nothing copied yet
    QVERIFY(events.empty());
    form.Click(form.Node("F"));
    form.Frame->CopyClick();
    QCOMPARE(Qs(db.Op.Messages.back().Text), QString("It is impossible to copy the folder!"));
    QCOMPARE(Qs(db.Op.Messages.back().Caption), QString("Warning"));
    QVERIFY(!form.Frame->PasteMenuItem()->isEnabled());

    form.Click(form.Node("B"));
    form.EditText->setText("copied edit");  // the editor's contents are copied
    db.Op.Answers.push_back(TMsgAnswer::No);
    form.Frame->CopyClick();
    QVERIFY(form.Frame->PasteMenuItem()->isEnabled());
    db.Op.Answers.push_back(TMsgAnswer::No);  // the edit is still there when B is left
    form.Frame->PasteClick();
    QCOMPARE(events, std::vector<bool>{true});
    QTreeWidgetItem* copy = form.Node("B-Copy");
    QVERIFY(copy);
    const std::string id = form.Tree()->GetObjectID(copy);
    QVERIFY(id != "b");
    TJson rec = *db.Films().GetRecord(id);
    QCOMPARE(Qs(JsonStr(rec, "Text")), QString("copied edit"));
    QCOMPARE(Qs(JsonStr(rec, "Name")), QString("B-Copy"));
    form.Frame->AddRecordClick();
    QCOMPARE(events, (std::vector<bool>{true, false}));
  }

  void TwoFramesCannotOverwriteEachOther() {
    TDb db;
    db.Seed();
    TTestForm one(*db.Db, "Films");
    TTestForm two(*db.Db, "Films");
    // Both show A; the second saves first.
    two.EditText->setText("by two");
    QVERIFY(two.Frame->BtnSaveClick());
    one.EditText->setText("by one");
    QVERIFY(!one.Frame->BtnSaveClick());
    QCOMPARE(Qs(db.Op.Messages.back().Text),
             QString("Record \"A\" can not be saved because it has been changed by another user"));
    QCOMPARE(Qs(JsonStr(*db.Films().GetRecord("a"), "Text")), QString("by two"));
    QCOMPARE(one.EditText->text(), QString("by one"));  // the edits stay

    // The same through the prompt: the navigation is refused.
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    one.Click(one.Node("B"));
    QCOMPARE(one.Tree()->currentItem(), one.Node("A"));
    QCOMPARE(one.EditText->text(), QString("by one"));
    db.Op.Answers.push_back(TMsgAnswer::No);
    one.Click(one.Node("B"));
    one.Click(one.Node("A"));
    QCOMPARE(one.EditText->text(), QString("by two"));

    // Deleting a record the other frame changed since it was loaded.
    two.EditText->setText("again by two");
    QVERIFY(two.Frame->BtnSaveClick());
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    one.Frame->DeleteClick();
    QCOMPARE(Qs(db.Op.Messages.back().Text),
             QString("Record \"A\" can not be deleted because it has been changed by another user"));
    QVERIFY(db.Films().GetRecord("a"));

    // A tree change after the other frame changed the tree: refused, and the tree reloaded.
    two.Frame->AddFolderClick();
    const size_t before = db.TreeDoc()->size();
    one.Frame->MoveDownClick();
    QCOMPARE(Qs(db.Op.Messages.back().Text),
             QString("Tree of records was updated, as it was changed by other user. Operation "
                     "isn't executed. Try again!"));
    QCOMPARE(db.TreeDoc()->size(), before);
    QCOMPARE(Shape(one.Tree()), Shape(two.Tree()));
    // Now it works.
    const size_t messages = db.Op.Messages.size();
    one.Frame->AddFolderClick();
    QCOMPARE(db.Op.Messages.size(), messages);
    QCOMPARE(db.TreeDoc()->size(), before + 1);
  }

  void ClickAfterAnotherFrameChangedTheTreeReloadsIt() {
    TDb db;
    db.Seed();
    TTestForm one(*db.Db, "Films");
    TTestForm two(*db.Db, "Films");
    two.Frame->AddRecordClick();
    QVERIFY(!one.Node("New record"));
    one.Click(one.Node("B"));
    QVERIFY(one.Node("New record"));
    QCOMPARE(one.Shown(), std::string("B"));
  }

  void DeleteConfirmsAndKeepsNonEmptyFolders() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    form.Click(form.Node("F"));
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    form.Frame->DeleteClick();
    QCOMPARE(Qs(db.Op.Messages[0].Text), QString("Delete \"F\"?"));
    QCOMPARE(Qs(db.Op.Messages.back().Text), QString("Can't delete. The folder is not empty!"));
    QVERIFY(form.Node("F"));
    form.Click(form.Node("B"));
    db.Op.Answers.push_back(TMsgAnswer::No);
    form.Frame->DeleteClick();
    QVERIFY(db.Films().GetRecord("b"));
    bool asked = false;
    form.Frame->OnDeletionRecord = [&](TJFrame*, bool&) { asked = true; };
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    form.Frame->DeleteClick();
    QVERIFY(asked);
    QVERIFY(!db.Films().GetRecord("b"));
    QCOMPARE(Shape(form.Tree()), std::string("A F[C]"));
    QCOMPARE(db.TreeDoc()->size(), size_t(2));
  }

  void DeleteTakesTheEntryOutOfATreeChangedMeanwhile() {
    TDb db;
    db.Seed();
    TTestForm one(*db.Db, "Films");
    TTestForm two(*db.Db, "Films");
    two.Frame->AddFolderClick();  // the tree one read is now stale
    one.Click(one.Tree()->topLevelItem(0));
    db.Op.Answers.push_back(TMsgAnswer::Yes);
    one.Tree()->setCurrentItem(one.Node("A"));
    one.Frame->DeleteClick();
    TJson doc = *db.TreeDoc();
    QCOMPARE(doc.size(), size_t(3));  // B, F and the other frame's new folder
    for (const TJson& e : doc) QVERIFY(JsonStr(e, "_ID") != "a");
    QCOMPARE(Shape(one.Tree()), std::string("B F[C] New folder[]"));
    QCOMPARE(db.Op.Messages.size(), size_t(1));  // the confirmation only
  }

  void MissingRecordIsReportedAndLeftOut() {
    TDb db;
    db.Seed();
    db.Films().DelRecord("b");
    TTestForm form(*db.Db, "Films");
    QCOMPARE(Qs(db.Op.Messages.at(0).Text), QString("Object {\"_id\": b} not found!"));
    QCOMPARE(Qs(db.Op.Messages.at(0).Caption), QString("Warning"));
    QCOMPARE(Shape(form.Tree()), std::string("A F[C]"));
    QCOMPARE(db.TreeDoc()->size(), size_t(3));  // stays stored until the tree is saved
  }

  void MovingWithTheArrowButtons() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    // The last top-level node down: nothing moves, nothing is saved.
    form.Click(form.Node("F"));
    const int64_t cntr = form.Tree()->RecordCntr();
    form.Frame->MoveDownClick();
    QCOMPARE(Shape(form.Tree()), std::string("A B F[C]"));
    QCOMPARE(form.Tree()->RecordCntr(), cntr);
    // Up past a sibling.
    form.Frame->MoveUpClick();
    QCOMPARE(Shape(form.Tree()), std::string("A F[C] B"));
    // A record moves up into an expanded folder above it, as its last child.
    form.Node("F")->setExpanded(true);
    form.Click(form.Node("B"));
    form.Frame->MoveUpClick();
    QCOMPARE(Shape(form.Tree()), std::string("A F[C B]"));
    // Up from the first child: just before its folder.
    form.Click(form.Node("C"));
    form.Frame->MoveUpClick();
    QCOMPARE(Shape(form.Tree()), std::string("A C F[B]"));
    // Down into an expanded folder: its first child.
    form.Node("F")->setExpanded(true);
    form.Frame->MoveDownClick();
    QCOMPARE(Shape(form.Tree()), std::string("A F[C B]"));
    // Down from the last child of a folder at the end: the last top-level node.
    form.Click(form.Node("B"));
    form.Frame->MoveDownClick();
    QCOMPARE(Shape(form.Tree()), std::string("A F[C] B"));
    // The first top-level node up: nothing.
    form.Click(form.Node("A"));
    form.Frame->MoveUpClick();
    QCOMPARE(Shape(form.Tree()), std::string("A F[C] B"));
    // Down out of a folder: just after it.
    form.Node("F")->setExpanded(true);
    form.Click(form.Node("C"));
    form.Frame->MoveDownClick();
    QCOMPARE(Shape(form.Tree()), std::string("A F[] C B"));
    // The stored tree follows.
    TJson doc = *db.TreeDoc();
    QCOMPARE(Qs(JsonStr(doc[2], "_ID")), QString("c"));
    QVERIFY(doc[1]["child"].empty());
    QVERIFY(db.Op.Messages.empty());
  }

  void DragAndDropRows() {
    TDb db;
    db.Seed();
    db.Films().NewRecord("d", TJson{{"Name", "D"}});
    db.Tree().UpdateRecord("Films", TJson::parse(R"([{"_ID": "a"}, {"_ID": "b"}, {"_ID": "d"},
        {"text": "F", "child": [{"_ID": "c"}], "_ID": "f"},
        {"text": "G", "child": [], "_ID": "g"}])"));
    TTestForm form(*db.Db, "Films");
    TRecTree* t = form.Tree();
    // Folder onto a record: first in the record's level.
    QVERIFY(t->DragDropNode(form.Node("G"), form.Node("C")));
    QCOMPARE(Shape(t), std::string("A B D F[G[] C]"));
    // Record onto a folder: its first child.
    QVERIFY(t->DragDropNode(form.Node("A"), form.Node("G")));
    QCOMPARE(Shape(t), std::string("B D F[G[A] C]"));
    // Record onto the record right after it: they swap.
    QVERIFY(t->DragDropNode(form.Node("B"), form.Node("D")));
    QCOMPARE(Shape(t), std::string("D B F[G[A] C]"));
    // Record onto another record: just before it.
    QVERIFY(t->DragDropNode(form.Node("C"), form.Node("D")));
    QCOMPARE(Shape(t), std::string("C D B F[G[A]]"));
    // Empty space: the last top-level node, unless it already is.
    QVERIFY(t->DragDropNode(form.Node("A"), nullptr));
    QCOMPARE(Shape(t), std::string("C D B F[G[]] A"));
    QVERIFY(!t->DragDropNode(form.Node("A"), nullptr));
    // A folder into its own subtree: nothing.
    QVERIFY(!t->DragDropNode(form.Node("F"), form.Node("G")));
    QVERIFY(!t->DragDropNode(form.Node("F"), form.Node("F")));
    QCOMPARE(Shape(t), std::string("C D B F[G[]] A"));
  }

  // Moving the record being edited (by the mouse or the arrow buttons) is no leaving of it.
  void MovingTheEditedRecordKeepsItsEdits() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    form.EditText->setText("typed");
    QVERIFY(form.Tree()->DragDropNode(form.Node("A"), nullptr));
    emit form.Tree()->NodeMoved();
    form.Frame->MoveUpClick();
    QVERIFY(db.Op.Messages.empty());
    QCOMPARE(form.Tree()->currentItem(), form.Node("A"));
    QCOMPARE(form.EditText->text(), QString("typed"));
    QCOMPARE(Shape(form.Tree()), std::string("B A F[C]"));
    QCOMPARE(Qs(JsonStr((*db.TreeDoc())[1], "_ID")), QString("a"));
  }

  void TryChangeRecordsNameKeepsATypedName() {
    TDb db;
    TTestForm form(*db.Db, "Films");
    form.Frame->AddRecordClick();
    form.Frame->TryChangeRecordsName("movie.ts");
    QCOMPARE(form.Shown(), std::string("movie.ts"));
    form.Frame->EditName()->setText("Typed");
    form.Frame->TryChangeRecordsName("other.ts");
    QCOMPARE(form.Shown(), std::string("Typed"));
  }

  void IdSelectsAndIterationFollowsTheTree() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    int changes = 0;
    form.Frame->OnChange = [&](TJFrame*) { ++changes; };
    form.Frame->SetID("c");
    QCOMPARE(form.Shown(), std::string("C"));
    QCOMPARE(changes, 1);
    form.Frame->SetID("nothing");
    QCOMPARE(form.Shown(), std::string("C"));
    std::vector<std::string> ids;
    for (TJson r = form.Frame->GetFirtsRecord(); !r.empty(); r = form.Frame->GetNextRecord())
      ids.push_back(JsonStr(r, "_ID") + JsonStr(r, "Name"));
    QCOMPARE(ids, (std::vector<std::string>{"aA", "bB", "cC"}));
    QCOMPARE(AttachedJFrames(db.Films()).size(), size_t(1));
    QVERIFY(form.Frame->FormCloseQuery());
    QVERIFY(AttachedJFrames(db.Films()).empty());
  }

  void KeyboardAndPopupMenu() {
    TDb db;
    db.Seed();
    TTestForm form(*db.Db, "Films");
    QStringList names;
    for (QAction* a : form.Frame->PopupMenu()->actions()) names << a->text();
    QCOMPARE(names, (QStringList{"Add record", "Add folder", "Add subfolder", "Copy", "Paste",
                                 "Delete"}));
    QTest::keyClick(form.Tree(), Qt::Key_Down);
    QCOMPARE(form.Shown(), std::string("B"));
    QTest::keyClick(form.Tree(), Qt::Key_Up);
    QCOMPARE(form.Shown(), std::string("A"));
    QTest::keyClick(form.Tree(), Qt::Key_Insert);
    QVERIFY(form.Node("New record"));
    QTest::keyClick(form.Tree(), Qt::Key_C, Qt::ControlModifier);
    QVERIFY(form.Frame->PasteMenuItem()->isEnabled());
    QTest::keyClick(form.Tree(), Qt::Key_Insert, Qt::ShiftModifier);
    QVERIFY(form.Node("New record-Copy"));
  }
};

QTEST_MAIN(TJFrameTest)
#include "JFrame.moc"
