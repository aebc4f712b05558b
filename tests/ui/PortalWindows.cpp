// The web pages and portals windows and the HTML editor: tabs that follow the template survey,
// "Reload" with added and removed tags, the save rules, the menu's two levels, the templates
// root, "Check" in the status bar, and the HTML editor's round trip through the visual view.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "JFrame/ComponentToJson.h"
#include "JFrame/RefEdit.h"
#include "JFrame/RefStringGrid.h"
#include "portal/forms/HTMLedit.h"
#include "portal/forms/Portals.h"
#include "portal/forms/WebPage.h"
#include "ui/UiProject.h"

namespace fs = std::filesystem;

namespace {
TJson Ref(const std::string& id, const std::string& cl) { return TJson{{"_ID", id}, {"_CL", cl}}; }

struct TProject : TUiProject {
  TProject() {
    fs::create_directories(Html() + "/sub");
    fs::create_directories(Tmp.File("custom"));
    Coll("Options").NewRecord("Options", TJson{{"HTMLDir", "..\\HTML"}});
    WriteFileBytes(Html() + "/page.html", "<#text_b><#text_a><#ref_x><#image1>");
    WriteFileBytes(Html() + "/sys.html", "<html><body><#SystemTemplate></body></html>");
    Coll("WebPages").NewRecord("sys", TJson{{"Name", "System"}, {"HTMLfile", "sys.html"}});
    Coll("WebPages").NewRecord(
        "p1", TJson{{"Name", "Page"},
                    {"HTMLfile", "page.html"},
                    {"Description", ""},
                    {"SysTmpl", Ref("", "WebPages")},
                    {"text", TJson::parse(R"([["text_a", "A"], ["text_b", "B"]])")},
                    {"Refs", TJson::array({TJson::array({"ref_x", Ref("sys", "WebPages"), "X"})})},
                    {"Imgs", TJson::parse(R"([["image1", "a.png", null]])")}});
    Coll("Tree").NewRecord("WebPages", TJson::parse(R"([{"_ID": "p1"}, {"_ID": "sys"}])"));
    // Portal records as the window stores them (every bound key present).
    auto portal = [](const char* name, const TJson& sysTmpl) {
      return TJson{{"Name", name},           {"StartPage", Ref("p1", "WebPages")},
                   {"SysTmpl", sysTmpl},     {"Description", ""},
                   {"Folder", "..\\custom"}, {"SchTempl", Ref("", "")},
                   {"ChSchTempl", ""},       {"MovieDTempl", ""}};
    };
    Coll("Portals").NewRecord("P", portal("Portal", Ref("sys", "WebPages")));
    Coll("Portals").NewRecord("Q", portal("No system template", Ref("", "")));
    Coll("Tree").NewRecord("Portals", TJson::parse(R"([{"_ID": "P"}, {"_ID": "Q"}])"));
  }
  std::string Html() { return Tmp.File("HTML"); }
};

bool TabShown(TFormWebPage& f, int i) { return f.PageControlTags->isTabVisible(i); }

// A tool bar shows and hides its buttons once it lays itself out.
bool Shown(QToolButton* b) {
  QTest::qWait(20);
  return b->isVisible();
}
}  // namespace

class TPortalWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void TabsFollowTheRecordAndReloadFollowsTheTemplate() {
    TProject p;
    TFormWebPage form(*p.Db);
    form.JFrame1->SetID("p1");
    QVERIFY(TabShown(form, 0) && !TabShown(form, 1) && TabShown(form, 2) && TabShown(form, 3));
    QVERIFY(form.LabelSysTmpl->isHidden());
    QCOMPARE(form.RefStringGridText->Cells(1, 1), QString("text_a"));

    // The template loses text_b and image1 and gains text_c and a system template tag.
    WriteFileBytes(p.Html() + "/page.html", "<#SystemTemplate><#text_c><#text_a><#ref_x>");
    QVERIFY(form.BtnReloadTemplateClick());
    QVERIFY(TabShown(form, 0) && !TabShown(form, 1) && TabShown(form, 2) && !TabShown(form, 3));
    QVERIFY(!form.LabelSysTmpl->isHidden());
    TRefStringGrid* g = form.RefStringGridText;
    QCOMPARE(g->DataRowCount(), 2);
    QCOMPARE(g->Cells(1, 1), QString("text_c"));
    QCOMPARE(g->Cells(2, 1), QString(""));
    QCOMPARE(g->Cells(1, 2), QString("text_a"));
    QCOMPARE(g->Cells(2, 2), QString("A"));
    QVERIFY(form.JFrame1->WasChanges());
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson stored = *p.Coll("WebPages").GetRecord("p1");
    QVERIFY(!stored.contains("SysTmpl"));
    QVERIFY(!stored.contains("Imgs"));
    QVERIFY(!stored.contains("Menu"));
    QVERIFY(JsonEqual(stored["text"], TJson::parse(R"([["text_c", null], ["text_a", "A"]])")));
    QVERIFY(JsonEqual(stored["Refs"][0][1], Ref("sys", "WebPages")));

    // A template that cannot be surveyed changes nothing.
    form.EditHtmlFileName->setText("missing.html");
    QVERIFY(!form.BtnReloadTemplateClick());
    QCOMPARE(g->DataRowCount(), 2);
    QVERIFY(!p.Op.Messages.empty());
    QCOMPARE(QString::fromStdString(p.Op.Messages.back().Caption), QString("Error"));
  }

  void NewPageHidesTheTabsAndUsesTheDefaultSystemTemplate() {
    TProject p;
    TFormWebPage form(*p.Db);
    form.JFrame1->AddRecordClick();
    QVERIFY(!TabShown(form, 0) && !TabShown(form, 1) && !TabShown(form, 2) && !TabShown(form, 3));
    QVERIFY(form.LabelSysTmpl->isHidden());
    TJson stored = *p.Coll("WebPages").GetRecord(form.JFrame1->ID());
    QVERIFY(JsonEqual(stored["SysTmpl"], Ref("", "")));
    QVERIFY(!stored.contains("Menu") && !stored.contains("text"));
  }

  void MenuKeepsToTwoLevels() {
    TProject p;
    WriteFileBytes(p.Html() + "/menu.html", "<#menu>");
    TFormWebPage form(*p.Db);
    form.JFrame1->SetID("p1");
    QVERIFY(form.TakeTemplateFile(p.Html() + "/menu.html"));
    QCOMPARE(form.EditHtmlFileName->text(), QString("menu.html"));
    QVERIFY(TabShown(form, 1));
    form.MenuItemAddFClick();
    QVERIFY(form.GroupBoxMenuObj->isHidden());  // a folder has no reference
    form.MenuItemAddRClick();                    // an item in the folder
    QVERIFY(!form.GroupBoxMenuObj->isHidden());
    form.RefEditMenuObj->SetRecordID(TrefID{"sys", "WebPages"});
    size_t before = p.Op.Messages.size();
    form.MenuItemAddSFClick();  // a folder inside the folder: refused
    QCOMPARE(p.Op.Messages.size(), before + 1);
    QCOMPARE(QString::fromStdString(p.Op.Messages.back().Text), QString("The menu allows only 2 levels"));
    QCOMPARE(form.RecTree1->topLevelItem(0)->childCount(), 1);
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson stored = *p.Coll("WebPages").GetRecord("p1");
    QVERIFY(JsonEqual(stored["Menu"], TJson::parse(R"([{"text": "New folder", "child": [
        {"text": "New menu item", "Refs": {"_ID": "sys", "_CL": "WebPages"}}]}])")))
        ;
    // A folder dragged into a folder is refused at saving.
    auto* nested = new QTreeWidgetItem(form.RecTree1->topLevelItem(0));
    nested->setText(0, "Deep");
    SetTreeNodeData(nested, TJson{{"IsFolder", true}});
    QVERIFY(!form.JFrame1->BtnSaveClick());
  }

  void TemplateFilesOutsideTheRootAreRefused() {
    TProject p;
    WriteFileBytes(p.Html() + "/sub/deep.html", "<#text1>");
    WriteFileBytes(p.Tmp.File("elsewhere.html"), "<#text1>");
    TFormWebPage form(*p.Db);
    form.JFrame1->SetID("p1");
    form.ChooseFile = [&](const std::string&) { return p.Tmp.File("elsewhere.html"); };
    form.ButtonChoiseDirClick();
    QCOMPARE(form.EditHtmlFileName->text(), QString("page.html"));
    QCOMPARE(QString::fromStdString(p.Op.Messages.back().Text),
             QString::fromStdString("File " + p.Tmp.File("elsewhere.html") +
                                    " placed not in HTML root derectory " + p.Html() +
                                    "/ or in it subdirectories!"));
    QCOMPARE(QString::fromStdString(p.Op.Messages.back().Caption), form.windowTitle());
    form.ChooseFile = [&](const std::string&) { return p.Html() + "/sub/deep.html"; };
    form.ButtonChoiseDirClick();
    QCOMPARE(form.EditHtmlFileName->text(), QString("sub\\deep.html"));
    QVERIFY(TabShown(form, 0) && !TabShown(form, 2));

    TFormPortals portals(*p.Db);
    portals.ChooseFile = [&](const std::string&) { return p.Tmp.File("elsewhere.html"); };
    portals.EditSchedTemplateBtnClick(portals.EditChSchedTemplate);
    QCOMPARE(portals.EditChSchedTemplate->text(), QString(""));
    portals.ChooseFile = [&](const std::string&) { return p.Html() + "/sub/deep.html"; };
    portals.EditSchedTemplateBtnClick(portals.EditMovieDescrTemplate);
    QCOMPARE(portals.EditMovieDescrTemplate->text(), QString("sub\\deep.html"));
    portals.ChooseDir = [&](const std::string&) { return p.Tmp.File("custom") + "/"; };
    portals.BtnHTMLDirClick();
    QCOMPARE(portals.EditPortalDir->text(), QString("..\\custom"));
  }

  void CheckReportsInTheStatusBar() {
    TProject p;
    TFormPortals form(*p.Db);
    form.JFrame1->SetID("P");
    QVERIFY(form.ButtonCheckClick());
    QCOMPARE(form.StatusBar1->currentMessage(), QString("Web portal was successfully created!"));
    QVERIFY(!fs::exists(p.Tmp.File("custom/index.html")));
    // Without a default system template the check stops naming the portal.
    form.JFrame1->SetID("Q");
    QVERIFY(!form.ButtonCheckClick());
    QVERIFY(form.StatusBar1->currentMessage().contains("Invalid reference."));
    QVERIFY(form.StatusBar1->currentMessage().contains("No system template"));
    // Unsaved edits the operator will not save stop the check before it runs.
    form.JFrame1->SetID("P");
    form.MemoDescr->setPlainText("edited");
    form.StatusBar1->clearMessage();
    p.Op.Answers.push_back(TMsgAnswer::No);
    QVERIFY(!form.ButtonCheckClick());
    QCOMPARE(form.StatusBar1->currentMessage(), QString(""));
  }

  // OK pressed before the browser engine has shown the page keeps the cell's text.
  void HtmlEditorOkBeforeLoadKeepsTheCell() {
    TProject p;
    TFormWebPage form(*p.Db);
    form.JFrame1->SetID("p1");
    QCOMPARE(form.RefStringGridText->Cells(2, 1), QString("A"));
    QTimer::singleShot(0, [] {
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->accept();
    });
    form.EditTextCell(1);
    QCOMPARE(form.RefStringGridText->Cells(2, 1), QString("A"));
    QVERIFY(!form.JFrame1->WasChanges());
    // The editor itself never stands in an empty text for one it has not shown yet.
    THTMLEdit edit;
    edit.show();
    edit.SetText("<p>kept</p>");
    QVERIFY(!edit.DocumentLoaded());
    QCOMPARE(QString::fromStdString(edit.GetText()), QString("<p>kept</p>"));
  }

  // Drops on the menu tree follow the record-tree rules: only folders take children, so the
  // generator never meets an item that is a folder.
  void MenuTreeDropsNeverNestUnderAnItem() {
    TProject p;
    WriteFileBytes(p.Html() + "/menu.html", "<#menu>");
    TFormWebPage form(*p.Db);
    form.JFrame1->SetID("p1");
    QVERIFY(form.TakeTemplateFile(p.Html() + "/menu.html"));
    TMenuTree* tree = form.RecTree1;
    auto add = [&](void (TFormWebPage::*action)(), QTreeWidgetItem* select, const char* text) {
      if (select) {
        tree->setCurrentItem(select);
        select->setSelected(true);
      } else {
        tree->clearSelection();
      }
      (form.*action)();
      tree->currentItem()->setText(0, text);
      if (!JsonBool(TreeNodeData(tree->currentItem()), "IsFolder"))
        form.RefEditMenuObj->SetRecordID(TrefID{"sys", "WebPages"});
      return tree->currentItem();
    };
    QTreeWidgetItem* a = add(&TFormWebPage::MenuItemAddRClick, nullptr, "A");
    QTreeWidgetItem* b = add(&TFormWebPage::MenuItemAddRClick, a, "B");
    QTreeWidgetItem* f = add(&TFormWebPage::MenuItemAddFClick, nullptr, "F");
    QTreeWidgetItem* c = add(&TFormWebPage::MenuItemAddRClick, f, "C");
    std::function<QString(QTreeWidgetItem*)> node = [&](QTreeWidgetItem* n) {
      QString s = n->text(0);
      if (n->childCount() || JsonBool(TreeNodeData(n), "IsFolder")) {
        s += "[";
        for (int i = 0; i < n->childCount(); ++i) s += (i ? "," : "") + node(n->child(i));
        s += "]";
      }
      return s;
    };
    auto shape = [&] {
      QString s;
      for (int i = 0; i < tree->topLevelItemCount(); ++i)
        s += (i ? "," : "") + node(tree->topLevelItem(i));
      return s;
    };
    QCOMPARE(shape(), QString("A,B,F[C]"));
    struct TCase {
      QTreeWidgetItem *Dragged, *Target;
      bool Moves;
      QString Shape;
    } cases[] = {
        {a, b, true, "B,A,F[C]"},        // onto the item right after it: they swap
        {c, b, true, "C,B,A,F[]"},       // onto another item: just before it, never into it
        {b, f, true, "C,A,F[B]"},        // onto a folder: its first child
        {f, a, true, "F[B],C,A"},        // a folder onto an item: first of the item's level
        {a, b, true, "F[A,B],C"},        // before an item inside a folder
        {f, b, false, "F[A,B],C"},       // a folder never goes into itself
        {c, nullptr, false, "F[A,B],C"}, // the last top-level node onto empty space
        {a, nullptr, true, "F[B],C,A"},  // onto empty space: last top-level node
    };
    for (const TCase& t : cases) {
      QCOMPARE(tree->DropNode(t.Dragged, t.Target), t.Moves);
      QCOMPARE(shape(), t.Shape);
    }
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson menu = (*p.Coll("WebPages").GetRecord("p1"))["Menu"];
    QVERIFY(MenuLevelsAllowed(menu));
    QCOMPARE(menu.size(), size_t(3));
    QVERIFY(menu[0].contains("child") && !menu[1].contains("child") && !menu[2].contains("child"));
    QCOMPARE(QString::fromStdString(menu[2]["text"].get<std::string>()), QString("A"));
  }

  void HtmlEditorRoundTripKeepsTheBody() {
    TProject p;
    WriteFileBytes(p.Html() + "/style.html",
                   "<#SystemTemplate><!DOCTYPE html><html><head><style>p{color:red}</style>"
                   "</head><body></body></html>");
    THTMLEdit edit;
    edit.resize(600, 400);
    edit.ParentHTMLFileName = p.Html() + "/style.html";
    edit.show();
    QCOMPARE(edit.State(), THTMLEdit::hsVisualEdit);
    QVERIFY(Shown(edit.Button0) && Shown(edit.Button1));
    QCOMPARE(edit.Button0->text(), QString("Show HTML"));
    const std::string body = "<p>Hello <b>world</b></p>";
    edit.SetText(body);
    QVERIFY(edit.WaitLoaded());
    QCOMPARE(edit.DesignMode(), QString("on"));
    QCOMPARE(QString::fromStdString(edit.GetText()), QString::fromStdString(body));
    // Visual view and back.
    edit.Button1Click();
    QCOMPARE(edit.State(), THTMLEdit::hsVisualView);
    QVERIFY(!Shown(edit.Button0));
    QCOMPARE(edit.Button1->text(), QString("Edit"));
    QCOMPARE(edit.DesignMode(), QString("off"));
    edit.Button1Click();
    QCOMPARE(edit.State(), THTMLEdit::hsVisualEdit);
    QVERIFY(Shown(edit.Button0) && Shown(edit.Button1));
    QCOMPARE(edit.Button1->text(), QString("View"));
    // Source, edited, visual, source: the body survives.
    edit.Button0Click();
    QCOMPARE(edit.State(), THTMLEdit::hsSource);
    QCOMPARE(edit.Button0->text(), QString("Visually"));
    QVERIFY(!Shown(edit.Button1));
    QCOMPARE(edit.Memo->toPlainText(), QString::fromStdString(body));
    edit.Memo->setPlainText("<p>Changed</p>");
    edit.Button0Click();
    QVERIFY(edit.WaitLoaded());
    QCOMPARE(edit.State(), THTMLEdit::hsVisualEdit);
    QVERIFY(Shown(edit.Button0) && Shown(edit.Button1));
    QCOMPARE(QString::fromStdString(edit.GetText()), QString("<p>Changed</p>"));
    edit.Button0Click();
    QCOMPARE(edit.Memo->toPlainText(), QString("<p>Changed</p>"));
  }
};

QTEST_MAIN(TPortalWindowsTest)
#include "PortalWindows.moc"
