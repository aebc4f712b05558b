// Control panels: building a panel of every element kind, moving and sizing with the keys,
// copying and deleting elements, the element edit window, saving and reopening, the change
// counter between two windows, the close questions, the checks before sending, and the panel
// records window.
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

#include "JFrame/FloatSpin.h"
#include "JFrame/SharedWidgets.h"
#include "control/forms/ControlElements.h"
#include "control/forms/ControlPanel.h"
#include "control/forms/EditControl.h"
#include "control/forms/OnLineContr.h"
#include "servers/PostAndGet.h"
#include "ui/UiProject.h"

namespace {

TJson J(const char* text) { return TJson::parse(text); }

const char* kPanel = R"({
  "Name": "Hall",
  "Form": {"Left": 10, "Top": 20, "Height": 500, "Width": 700},
  "CustColors": [255, 65280],
  "Table": [
    {"Type": 1, "Name": "Power", "PosX": 50, "PosY": 40, "Width": 100, "Height": 100,
     "Colors": [255], "Fonts": [{"sz": 11, "st": 1, "ch": 1, "cl": 16711680, "n": "DejaVu Sans"}],
     "Cmds": [{"stbpower": {"Method": "command", "Value": "1", "Delay": 0}}],
     "Server": {"_ID": "srv", "_CL": "Servers"}, "Group": {"_ID": "", "_CL": "Groups"}},
    {"Type": 2, "Name": "Volume", "PosX": 200, "PosY": 40, "Width": 150, "Height": 45},
    {"Type": 3, "Name": "Ticker", "PosX": 50, "PosY": 200, "Width": 200, "Height": 120,
     "Cmds": [{"showtext": {"Method": "command", "Value": "ticker", "Text": "Hello", "Time": "0 00:00:10"}}]},
    {"Type": 4, "Name": "News", "PosX": 300, "PosY": 200, "Width": 320, "Height": 180,
     "Channel": {"_ID": "ch1", "_CL": "Channels"}, "Mute": true},
    {"Type": 5, "Name": "Page", "PosX": 50, "PosY": 340, "Width": 200, "Height": 100, "Cmds": []}
  ]})";

struct TProject : TUiProject {
  TProject() {
    Coll("OnLineContr").NewRecord("p1", J(kPanel));
    Coll("Tree").NewRecord("OnLineContr", J(R"([{"_ID": "p1"}])"));
    Coll("Channels").NewRecord("ch1", J(R"({"Name": "News", "URL": "igmp://239.1.1.1:1234"})"));
    Coll("Servers").NewRecord("srv", J(R"({"Name": "Main", "URL": "127.0.0.1:9"})"));
  }
  TJson Stored() { return *Coll("OnLineContr").GetRecord("p1"); }
};

QRect Geo(QWidget* w) { return w->geometry(); }

}  // namespace

class TControlPanelTest : public QObject {
  Q_OBJECT
private slots:
  void BuildsEveryElementKindFromTheRecord() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", false);
    QCOMPARE(panel.windowTitle(), QString("Hall"));
    QCOMPARE(panel.geometry(), QRect(10, 20, 700, 500));
    QCOMPARE(panel.CustomColors, QStringList({"ColorA=0000FF", "ColorB=00FF00"}));
    const std::vector<QWidget*> els = panel.Elements();
    QCOMPARE(els.size(), size_t(5));
    auto* btn = dynamic_cast<TDockedBtn*>(els[0]);
    QVERIFY(btn);
    QCOMPARE(btn->text(), QString("Power"));
    QCOMPARE(btn->ButtonColor(), QColor(255, 0, 0));  // 0x0000FF: red in the lowest byte
    QCOMPARE(btn->TextColor(), QColor(0, 0, 255));
    QVERIFY(btn->font().bold());
    QCOMPARE(btn->font().pointSize(), 11);
    QCOMPARE(Geo(btn), QRect(50, 40, 100, 100));
    QVERIFY(dynamic_cast<TDockedTrackBar*>(els[1]));
    auto* memo = dynamic_cast<TDockedMemoBox*>(els[2]);
    QVERIFY(memo);
    QCOMPARE(memo->objectName(), QString("PanelMemo2"));
    QCOMPARE(memo->title(), QString("Ticker"));
    QCOMPARE(memo->Memo->objectName(), QString("PanelMemo2_memo"));
    QCOMPARE(memo->Btn->objectName(), QString("PanelMemo2_btn"));
    QCOMPARE(memo->Panel->objectName(), QString("PanelMemo2_panel"));
    QCOMPARE(memo->Btn->text(), QString("Send text"));
    QCOMPARE(memo->Memo->toPlainText(), QString("Hello"));
    auto* player = dynamic_cast<TDockedPlayer*>(els[3]);
    QVERIFY(player);
    QCOMPARE(Geo(player), QRect(300, 200, 320, 180));
    // No play permission in the options: black, no overlay, nothing played.
    QVERIFY(!panel.PlayEnable);
    QVERIFY(!player->Player());
    QCOMPARE(player->PlayCount(), 0);
    QCOMPARE(player->OverlayText(), std::string());
    auto* html = dynamic_cast<TDockedHTMLEditorBox*>(els[4]);
    QVERIFY(html);
    QCOMPARE(html->HTMLedit->objectName(), QString("PanelMemo4_HTMLedit"));
    for (size_t i = 0; i < els.size(); ++i) QCOMPARE(ElementTag(els[i]), int(i));
    // Run mode: no context menu, no moving with the keys.
    QCOMPARE(panel.ScrollArea->contextMenuPolicy(), Qt::NoContextMenu);
    btn->setFocus();
    QVERIFY(!panel.ArrowKey(Qt::Key_Left, true, false));
  }

  void AnUnknownElementTypeStopsTheOpening() {
    for (int type : {0, 6}) {
      TProject p;
      TJson rec = p.Stored();
      rec["Table"][1]["Type"] = type;
      p.Coll("OnLineContr").UpdateRecord("p1", rec);
      try {
        TFormControlPanel panel(nullptr, *p.Db, "p1", true);
        QFAIL("opened");
      } catch (const std::exception& e) {
        QCOMPARE(QString(e.what()), QString("Invalid elerment type %1").arg(type));
      }
    }
  }

  void KeysMoveAndSizeTheFocusedElementWithinTheLimits() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    panel.resize(400, 300);
    QCOMPARE(panel.StatusBar1->currentMessage().toStdString(), editModeHint);
    QWidget* btn = panel.ElementByTag(0);
    btn->setGeometry(1, 5, 16, 40);
    panel.ActControl = btn;
    TFormEditControl* edit = panel.OpenEditForm(AsElement(btn)->GetJson(), btn);
    QVERIFY(panel.ArrowKey(Qt::Key_Left, false, true));
    QCOMPARE(Geo(btn), QRect(1, 5, 15, 40));
    QCOMPARE(edit->SpinWidth->Value(), 15.0);  // the open edit window follows
    QVERIFY(!panel.ArrowKey(Qt::Key_Left, false, true));
    QCOMPARE(Geo(btn), QRect(1, 5, 15, 40));
    QVERIFY(!panel.ArrowKey(Qt::Key_Left, true, false));  // left edge reached
    QVERIFY(panel.ArrowKey(Qt::Key_Right, true, true));   // Ctrl wins: moves
    QCOMPARE(Geo(btn), QRect(2, 5, 15, 40));
    QCOMPARE(edit->SpinX->Value(), 2.0);
    QVERIFY(!panel.ArrowKey(Qt::Key_Left, false, false));
    QVERIFY(!panel.ArrowKey(Qt::Key_Home, true, false));
  }

  void DroppedPartlyOutsideMovesFullyInside() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    panel.ScrollArea->setMinimumSize(0, 0);
    panel.ScrollArea->resize(600, 400);
    QWidget* btn = panel.ElementByTag(0);
    panel.ControlEndDock(btn, QPoint(590, -30));
    QCOMPARE(Geo(btn), QRect(500, 0, 100, 100));
    QCOMPARE(JsonInt(AsElement(btn)->GetJson(), "PosX"), int64_t(500));
    QCOMPARE(JsonInt(AsElement(btn)->GetJson(), "PosY"), int64_t(0));
    panel.ControlEndDock(btn, QPoint(201, 151));
    QCOMPARE(Geo(btn), QRect(151, 101, 100, 100));
  }

  void TabOrderFollowsRowsThenRightEdges() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    // Volume's bottom is well above Power's: a row of its own, first.
    QCOMPARE(panel.ElementByTag(1)->property("TabOrder").toInt(), 0);
    QCOMPARE(panel.ElementByTag(0)->property("TabOrder").toInt(), 1);
    QCOMPARE(panel.ElementByTag(2)->property("TabOrder").toInt(), 2);
    QCOMPARE(panel.ElementByTag(3)->property("TabOrder").toInt(), 3);
    QCOMPARE(panel.ElementByTag(4)->property("TabOrder").toInt(), 4);
    // Volume a little lower, its bottom less than half a height from Power's: one row, left
    // to right.
    panel.ElementByTag(1)->setGeometry(400, 60, 150, 45);
    panel.UpdateTabOrders();
    QCOMPARE(panel.ElementByTag(0)->property("TabOrder").toInt(), 0);
    QCOMPARE(panel.ElementByTag(1)->property("TabOrder").toInt(), 1);
  }

  void CopyAndDeleteRenumberTheElements() {
    TProject p;
    TJson rec = p.Stored();
    rec["Table"] = TJson::array({rec["Table"][0], rec["Table"][1], rec["Table"][2]});
    p.Coll("OnLineContr").UpdateRecord("p1", rec);
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    // The menu over an element offers editing, over the background adding.
    panel.PreparePopup(QPoint(60, 50));
    QCOMPARE(panel.ActControl, panel.ElementByTag(0));
    QVERIFY(panel.Copyelement1->isEnabled() && !panel.Addelement1->isEnabled());
    panel.PreparePopup(QPoint(5, 5));
    QVERIFY(!panel.ActControl);
    QVERIFY(!panel.Copyelement1->isEnabled() && panel.Addelement1->isEnabled());

    panel.PreparePopup(QPoint(60, 50));
    panel.Copyelement1Click();
    QCOMPARE(panel.Elements().size(), size_t(4));
    QWidget* copy = panel.ElementByTag(3);
    QCOMPARE(Geo(copy), QRect(60, 50, 100, 100));
    TJson copied = AsElement(copy)->GetJson();
    for (const char* key : {"Cmds", "Colors", "Fonts", "Name", "Server"})
      QVERIFY2(JsonEqual(copied[key], rec["Table"][0][key]), key);
    QVERIFY(panel.FindEditForm(copy));  // its edit window opened
    delete panel.FindEditForm(copy);

    // Deleting the second: the third and the copy move up, the former third becomes active.
    QWidget* third = panel.ElementByTag(2);
    panel.PreparePopup(QPoint(210, 50));
    QCOMPARE(panel.ActControl, panel.ElementByTag(1));
    panel.OpenEditForm(AsElement(panel.ActControl)->GetJson(), panel.ActControl);
    panel.Deleteelement1Click();
    QVERIFY(p.Op.Messages.empty());  // no confirmation
    QCOMPARE(panel.Elements().size(), size_t(3));
    QCOMPARE(panel.EditForms.size(), size_t(0));  // the deleted element's edit window went too
    QCOMPARE(ElementTag(third), 1);
    QCOMPARE(panel.ActControl, third);
    QCOMPARE(ElementTag(copy), 2);
    QCOMPARE(panel.json["Table"].size(), size_t(3));
    QCOMPARE(QString::fromStdString(JsonStr(panel.json["Table"][1], "Name")), QString("Ticker"));
    panel.UpdateFormJson();
    QCOMPARE(panel.json["Table"][2]["PosX"].get<int>(), 60);
  }

  void AddingPlacesAtThePointerAndHtmlIsComingSoon() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    panel.PreparePopup(QPoint(400, 20));
    panel.Button1Click();
    QWidget* added = panel.ElementByTag(5);
    QVERIFY(dynamic_cast<TDockedBtn*>(added));
    QCOMPARE(Geo(added), QRect(400, 20, 100, 100));
    TFormEditControl* edit = panel.FindEditForm(added);
    QVERIFY(edit);
    QCOMPARE(edit->SpinX->Value(), 400.0);
    QCOMPARE(edit->PageControl1->currentIndex(), 0);
    panel.PreparePopup(QPoint(420, 300));
    panel.AddHTMLedit1Click();
    QCOMPARE(panel.Elements().size(), size_t(6));
    QCOMPARE(p.Op.Texts(), std::vector<std::string>({"Coming soon!"}));
  }

  void EditWindowShowsThePartsOfTheKind() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    auto tabs = [](TFormEditControl* f) {
      QStringList t;
      for (int i = 0; i < f->PageControl1->count(); ++i) t << f->PageControl1->tabText(i);
      return t;
    };
    struct TCase {
      int tag;
      QStringList tabs;
      int colors, fonts;
      bool channel, group, server, commands;
    };
    const TCase cases[] = {
        {0, {"Basic", "Color", "Font"}, 1, 1, false, true, true, true},
        {1, {"Basic"}, 0, 0, false, true, true, true},
        {2, {"Basic", "Color", "Font"}, 3, 3, false, true, true, true},
        {3, {"Basic", "Font", "Player"}, 0, 1, true, false, false, false},
        {4, {"Basic", "Color", "Font"}, 3, 3, false, true, true, true},
    };
    for (const TCase& c : cases) {
      QWidget* el = panel.ElementByTag(c.tag);
      TFormEditControl* f = panel.OpenEditForm(AsElement(el)->GetJson(), el);
      QCOMPARE(tabs(f), c.tabs);
      QCOMPARE(f->ColorCount, c.colors);
      QCOMPARE(f->fontCount, c.fonts);
      QCOMPARE(f->BoxVisible(boxChannel), c.channel);
      QCOMPARE(f->BoxVisible(boxGroup), c.group);
      QCOMPARE(f->BoxVisible(boxServer), c.server);
      QCOMPARE(f->BoxVisible(boxCommands), c.commands);
      QCOMPARE(panel.OpenEditForm(TJson::object(), el), f);  // one window per element
    }
    // Number limits.
    TFormEditControl* f = panel.FindEditForm(panel.ElementByTag(0));
    QCOMPARE(f->SpinX->MaxValue(), 1920.0);
    QCOMPARE(f->SpinY->MaxValue(), 1080.0);
    QCOMPARE(f->SpinWidth->MinValue(), 10.0);
    QCOMPARE(f->SpinHeight->MinValue(), 10.0);
    QCOMPARE(f->EditCommands->text().isEmpty(), false);
  }

  void EditWindowAppliesCancelsAndAsksBeforeLosingChanges() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    QWidget* btn = panel.ElementByTag(0);
    TFormEditControl* f = panel.OpenEditForm(AsElement(btn)->GetJson(), btn);
    f->MemoName->setPlainText("Power\non");
    f->SpinX->SetValue(70);
    f->Colors[0].Value = QColor(0, 255, 0);
    f->BitBtnApplyClick();
    QCOMPARE(static_cast<TDockedBtn*>(btn)->text(), QString("Power\non"));
    QCOMPARE(btn->x(), 70);
    QVERIFY(JsonEqual(AsElement(btn)->GetJson()["Colors"], TJson::array({65280})));
    // An unapplied change asks; Cancel keeps the window, No closes it.
    f->SpinY->SetValue(90);
    p.Op.Answers = {TMsgAnswer::Cancel};
    QVERIFY(!f->FormCloseQuery());
    QCOMPARE(p.Op.Messages.back().Text, std::string("Element \"Power on\" was changed! Save changes?"));
    QCOMPARE(p.Op.Messages.back().Caption, std::string("Hall"));
    // "Cancel" of the window puts the start back.
    f->BitBtnCancelClick();
    QTRY_COMPARE(panel.EditForms.size(), size_t(0));
    QCOMPARE(static_cast<TDockedBtn*>(btn)->text(), QString("Power"));
    QCOMPARE(Geo(btn), QRect(50, 40, 100, 100));
    QVERIFY(JsonEqual(AsElement(btn)->GetJson()["Colors"], TJson::array({255})));
  }

  // "..." of the commands box edits the list in the command dialog for the element's type.
  void CommandsComeFromTheCommandDialog() {
    TProject p;
    const TCommandListEditor lent = CommandListEditor();
    QVERIFY(lent);  // the command dialog is part of the console
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    QWidget* btn = panel.ElementByTag(0);
    TFormEditControl* f = panel.OpenEditForm(AsElement(btn)->GetJson(), btn);
    QCOMPARE(f->EditCommands->text(), QString("STB power on"));
    int askedType = -1;
    bool save = false;
    SetCommandListEditor([&](QWidget*, TJson& list, int elemType, TDbFile*) {
      askedType = elemType;
      list.push_back(J(R"({"reboot": {"Method": "command", "Value": "", "Delay": 0}})"));
      return save;
    });
    f->EditCommandsBtnClick();  // cancelled: nothing changes
    QCOMPARE(askedType, elemButton);
    QCOMPARE(f->commands.size(), size_t(1));
    save = true;
    f->EditCommandsBtnClick();
    SetCommandListEditor(lent);
    QCOMPARE(f->commands.size(), size_t(2));
    QCOMPARE(f->EditCommands->text(), QString("STB power on; STB reboot"));
    f->BitBtnApplyClick();
    QCOMPARE(AsElement(btn)->GetJson()["Cmds"].size(), size_t(2));
  }

  void SavedPanelReopensEqualAndAnUnchangedOneClosesUnasked() {
    TProject p;
    {
      TFormControlPanel panel(nullptr, *p.Db, "p1", true);
      panel.ElementByTag(1)->move(210, 45);
      static_cast<TDockedMemoBox*>(panel.ElementByTag(2))->Memo->setPlainText("Typed");
      panel.PreparePopup(QPoint(450, 10));
      panel.ext1Click();
      delete panel.FindEditForm(panel.ElementByTag(5));
      QVERIFY(panel.Controlpanel1Click());
      QVERIFY(panel.FormCloseQuery());
      QVERIFY(p.Op.Messages.empty());
    }
    TJson stored = p.Stored();
    QCOMPARE(stored["Table"].size(), size_t(6));
    QCOMPARE(stored["Table"][1]["PosX"].get<int>(), 210);
    QCOMPARE(stored["Table"][2]["Cmds"][0]["showtext"]["Text"].get<std::string>(), std::string("Typed"));
    QCOMPARE(stored["Table"][5]["Type"].get<int>(), elemText);
    QVERIFY(JsonEqual(stored["CustColors"], J("[255, 65280]")));
    TFormControlPanel again(nullptr, *p.Db, "p1", false);
    again.UpdateFormJson();
    QVERIFY(JsonEqual(again.json, stored));
    QVERIFY(again.FormCloseQuery());
    QVERIFY(p.Op.Messages.empty());
  }

  void ATypedTextIsAChangeAndTheCloseQuestionDecides() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", false);
    static_cast<TDockedMemoBox*>(panel.ElementByTag(2))->Memo->setPlainText("New text");
    p.Op.Answers = {TMsgAnswer::Cancel, TMsgAnswer::No, TMsgAnswer::Yes};
    QVERIFY(!panel.FormCloseQuery());
    QCOMPARE(p.Op.Messages.back().Text, std::string("Control panel \"Hall\" was changed! Save changes?"));
    QCOMPARE(p.Op.Messages.back().Caption, std::string("Hall"));
    QVERIFY(panel.FormCloseQuery());  // No: closes, nothing saved
    QCOMPARE(p.Stored()["Table"][2]["Cmds"][0]["showtext"]["Text"].get<std::string>(), std::string("Hello"));
    QVERIFY(panel.FormCloseQuery());  // Yes: saved
    QCOMPARE(p.Stored()["Table"][2]["Cmds"][0]["showtext"]["Text"].get<std::string>(), std::string("New text"));
  }

  void TheSecondOfTwoWindowsCannotOverwriteTheFirst() {
    TProject p;
    TFormControlPanel a(nullptr, *p.Db, "p1", true);
    TFormControlPanel b(nullptr, *p.Db, "p1", true);
    a.ElementByTag(0)->move(60, 60);
    QVERIFY(a.Controlpanel1Click());
    b.ElementByTag(0)->move(80, 80);
    QVERIFY(!b.Controlpanel1Click());
    QCOMPARE(p.Op.Texts(), std::vector<std::string>(
        {"Record \"Hall\" can not be saved because it has been changed by another user"}));
    QCOMPARE(p.Stored()["Table"][0]["PosX"].get<int>(), 60);
    // Closing b still asks, since its layout was not saved; Cancel keeps it open.
    p.Op.Answers = {TMsgAnswer::Yes};
    QVERIFY(!b.FormCloseQuery());  // Yes, but the save is refused again
    QVERIFY(a.Controlpanel1Click());  // a's counter moved on with its save
  }

  void AFailedWriteNamesItsReasonAndALaterSaveSucceeds() {
    TProject p;
    TFormControlPanel a(nullptr, *p.Db, "p1", true);
    a.ElementByTag(0)->move(70, 70);
    {
      TFailingWrites full;
      QVERIFY(!a.Controlpanel1Click());
    }
    QCOMPARE(p.Op.Messages.size(), size_t(1));  // one box, not the store's as well
    QVERIFY(p.Op.Messages.back().Text.rfind("Record \"Hall\" can not be saved: ", 0) == 0);
    QVERIFY2(p.Op.Messages.back().Text.find(TFailingWrites::Reason()) != std::string::npos,
             p.Op.Messages.back().Text.c_str());
    QVERIFY(a.Controlpanel1Click());  // the cause is gone: the same save goes through
    QCOMPARE(p.Stored()["Table"][0]["PosX"].get<int>(), 70);
  }

  void ChecksBeforeSendingNameWhatIsMissing() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", false);
    // Power has a server, no group.
    QTest::mouseClick(panel.ElementByTag(0), Qt::LeftButton);
    QCOMPARE(panel.StatusBar1->currentMessage(), QString("Can't execute. Not defined group."));
    QCOMPARE(panel.Sender().Running(), size_t(0));
    // The HTML box has nothing.
    static_cast<TDockedBox*>(panel.ElementByTag(4))->Btn->click();
    QCOMPARE(panel.StatusBar1->currentMessage(),
             QString("Can't execute. Not defined server. Not defined group. Not specified command."));
  }

  void EditModeMouseWithShiftSuppressesTheClick() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QWidget* btn = panel.ElementByTag(0);
    panel.StatusBar1->clearMessage();
    QTest::mouseClick(btn, Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(panel.StatusBar1->currentMessage(), QString());  // nothing ran
    QTest::mouseClick(btn, Qt::LeftButton);
    QCOMPARE(panel.StatusBar1->currentMessage(), QString("Can't execute. Not defined group."));
    p.Op.Answers = {TMsgAnswer::No};
    panel.close();
  }

  void RecordsWindowCarriesThePanelThrough() {
    TProject p;
    TFormOnLineContr form(*p.Db);
    QCOMPARE(form.windowTitle().startsWith("FormOnLinrContr"), true);
    form.JFrame1->SetID("p1");
    QCOMPARE(form.LabelElements->text(), QString("Elements: 5"));
    form.JFrame1->SetRecordName("Hall 2");
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson stored = p.Stored();
    QCOMPARE(JsonStr(stored, "Name"), std::string("Hall 2"));
    TJson before = J(kPanel);
    for (const char* key : {"Table", "Form", "CustColors"}) QVERIFY2(JsonEqual(stored[key], before[key]), key);
    // A new record: an empty table, the geometry and colours of the panel shown before; the
    // panel menu is told.
    int told = 0;
    const int handler = AddCollectionChangedHandler([&](const std::string& c) { told += c == "OnLineContr"; });
    form.JFrame1->AddRecordClick();
    QTRY_VERIFY(told > 0);
    RemoveCollectionChangedHandler(handler);
    TJson added = *p.Coll("OnLineContr").GetRecord(form.JFrame1->ID());
    QVERIFY(JsonEqual(added["Table"], TJson::array()));
    QVERIFY(JsonEqual(added["Form"], before["Form"]));
  }

  void EditControlPanelOpensThePanelForEditing() {
    TProject p;
    auto* form = new TFormOnLineContr(*p.Db);
    form->show();
    form->JFrame1->SetID("p1");
    QWidget* opened = form->Button1Click();
    auto* panel = dynamic_cast<TFormControlPanel*>(opened);
    QVERIFY(panel);
    QVERIFY(panel->EditEnable);
    QCOMPARE(panel->id, std::string("p1"));
    QTRY_VERIFY(!form->isVisible());
    delete panel;
  }

  // With PELMORA_SHOTS_DIR set (under a display server), shows both modes and saves pictures of
  // them there, for a person to look at.
  // Every font slot has its text colour beside it: chosen there (from the list or the colour
  // dialog's value), it shows and is applied as the font's "cl".
  void FontSlotsChooseTheirTextColour() {
    TProject p;
    TFormControlPanel panel(nullptr, *p.Db, "p1", true);
    QWidget* btn = panel.ElementByTag(0);
    TFormEditControl* f = panel.OpenEditForm(AsElement(btn)->GetJson(), btn);
    auto* box = f->findChild<QComboBox*>("FontColorBox1");
    QVERIFY(box);
    f->PageControl1->setCurrentWidget(f->TabSheetFont);
    QVERIFY(box->isVisibleTo(f));
    QCOMPARE(box->currentData().value<QColor>(), QColor(0, 0, 255));  // cl 16711680: blue
    QVERIFY(f->findChild<QPushButton*>("BtnFontColorDlg1"));
    const int lime = box->findText("Lime");
    QVERIFY(lime >= 0);
    box->setCurrentIndex(lime);
    emit box->activated(lime);
    f->BitBtnApplyClick();
    TJson font = AsElement(btn)->GetJson()["Fonts"][0];
    QCOMPARE(font["cl"].get<int64_t>(), int64_t(65280));
    QCOMPARE(font["n"].get<std::string>(), std::string("DejaVu Sans"));
    QCOMPARE(static_cast<TDockedBtn*>(btn)->TextColor(), QColor(0, 255, 0));
    p.Op.Answers = {TMsgAnswer::No};
  }

  void Screenshots() {
    const QString dir = qEnvironmentVariable("PELMORA_SHOTS_DIR");
    if (dir.isEmpty()) QSKIP("PELMORA_SHOTS_DIR is not set");
    TProject p;
    TFormControlPanel edit(nullptr, *p.Db, "p1", true);
    edit.move(0, 0);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QWidget* btn = edit.ElementByTag(0);
    TFormEditControl* f = edit.OpenEditForm(AsElement(btn)->GetJson(), btn);
    f->move(720, 0);
    QTest::qWait(500);
    edit.grab().save(dir + "/panel-edit.png");
    f->grab().save(dir + "/panel-edit-element.png");
    f->PageControl1->setCurrentIndex(1);
    f->grab().save(dir + "/panel-edit-element-color.png");
    f->PageControl1->setCurrentIndex(2);
    QTest::qWait(300);
    f->grab().save(dir + "/panel-edit-element-font.png");
    QTest::qWait(1500);
    p.Op.Answers = {TMsgAnswer::No};
    edit.close();
    TFormControlPanel run(nullptr, *p.Db, "p1", false);
    run.move(0, 0);
    run.show();
    QVERIFY(QTest::qWaitForWindowExposed(&run));
    QTest::mouseClick(run.ElementByTag(0), Qt::LeftButton);
    QTest::qWait(500);
    run.grab().save(dir + "/panel-run.png");
    QTest::qWait(1500);
  }
};

QTEST_MAIN(TControlPanelTest)
#include "ControlPanel.moc"
