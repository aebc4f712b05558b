// The scheduling windows: the channel schedule editor recomputing its rows, the command dialog,
// the shuffle, "Show schedule" from the schedules window and its kept options.
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QHelpEvent>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <chrono>

#include "JFrame/FloatSpin.h"
#include "JFrame/RefEdit.h"
#include "JFrame/RefStringGrid.h"
#include "JFrame/RefTblFrame.h"
#include "schedule/forms/ChSchedules.h"
#include "schedule/forms/ChShCommands.h"
#include "schedule/forms/DoScheduleForm.h"
#include "schedule/forms/Schedules.h"
#include "ui/UiProject.h"

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }

TJson Ref(const std::string& id, const std::string& cl) { return TJson{{"_ID", id}, {"_CL", cl}}; }
TJson Row(const std::string& start, int typ, const TJson& content, const TJson& cmds = TJson::array()) {
  return TJson::array({start, typ, content, cmds});
}

struct TProject : TUiProject {
  TProject() {
    Coll("Channels").NewRecord("ch", TJson{{"Name", "Movies"}, {"Type", 0}, {"URL", "udp://x"}});
    Coll("Channels").NewRecord("cmd", TJson{{"Name", "Lights"}, {"Type", 2}});
    Coll("Tree").NewRecord("Channels", TJson::parse(R"([{"_ID": "ch"}, {"_ID": "cmd"}])"));
    Coll("Films").NewRecord("a", TJson{{"Name", "Film A"}, {"FileName", "a.m2t"},
                                       {"Duration", "01:00:00,000"}, {"ShowInSchedule", true}});
    Coll("Films").NewRecord("b", TJson{{"Name", "Film B"}, {"FileName", "b.m2t"},
                                       {"Duration", "00:30:00,000"}, {"ShowInSchedule", true}});
    Coll("PlayLists").NewRecord("pl", TJson{{"Name", "List"}, {"Repeat", 1},
                                            {"Table", TJson::array({TJson::array({Ref("a", "Films")})})}});
    Coll("ChSched").NewRecord(
        "cs", TJson{{"Name", "Evening"},
                    {"Channel", Ref("ch", "Channels")},
                    {"AutoPeriod", false},
                    {"Period", "1 00:00:00"},
                    {"Table", TJson::array({Row("0 00:00:00", 0, Ref("a", "Films")),
                                            Row("", 0, Ref("b", "Films")),
                                            Row("0 02:00:00", 0, Ref("a", "Films")),
                                            Row("", 0, Ref("b", "Films"))})}});
    Coll("Tree").NewRecord("ChSched", TJson::parse(R"([{"_ID": "cs"}])"));
    Coll("Schedules").NewRecord("s1", TJson{{"Name", "Week"}, {"Table", TJson::array({TJson::array({Ref("cs", "ChSched")})})}});
    Coll("Tree").NewRecord("Schedules", TJson::parse(R"([{"_ID": "s1"}])"));
  }
};

// Puts Text into the start-time cell of data row Row (1-based) as the operator types it.
void TypeStart(TFormChSchedules& form, int row, const QString& text) {
  TRefStringGrid* g = form.RefTblFrame1->StringGrid;
  g->SetCurrentCell(TFormChSchedules::ColStart, row);
  auto* ed = dynamic_cast<TRG_DateTimeEdit*>(g->ColumnEditor(TFormChSchedules::ColStart));
  QVERIFY(ed);
  ed->SetValueAsText(text);
}
}  // namespace

class TScheduleWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void EditingAStartTimeRecomputesTheRows() {
    TProject p;
    TFormChSchedules form(*p.Db);
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    QCOMPARE(g->DataRowCount(), 4);
    QCOMPARE(g->Cells(TFormChSchedules::ColDuration, 1), QString("01:00:00"));
    QCOMPARE(g->Cells(TFormChSchedules::ColTimes, 2), QString("01:00:00 - 01:30:00|||||Interruption in the broadcast of 00:30:00 from 01:30:00 to 02:00:00|||||"));
    QCOMPARE(form.RowBlocks(), (std::vector<int>{0, 0, 1, 1}));
    // The second block starts half an hour earlier: no gap any more, the row is clean.
    TypeStart(form, 3, "0 01:30:00");
    QCOMPARE(g->Cells(TFormChSchedules::ColTimes, 2), QString("01:00:00 - 01:30:00"));
    QCOMPARE(g->Cells(TFormChSchedules::ColTimes, 3), QString("01:30:00 - 02:30:00"));
    QVERIFY(form.JFrame1->WasChanges());
    // A block that starts after the next one: the error in the row's "Times" cell and its hint.
    TypeStart(form, 1, "0 02:00:00");
    const QString error = "Error in column \"Start time\". Time must be less than 01:30:00";
    QVERIFY2(g->Cells(TFormChSchedules::ColTimes, 1).contains(error), qPrintable(g->Cells(TFormChSchedules::ColTimes, 1)));
    QVERIFY2(form.TimesHint(1).contains(error), qPrintable(form.TimesHint(1)));
    QVERIFY(!form.TimesHint(4).contains("Time must be less"));
    // The mouse resting on another column shows nothing; on that "Times" cell, the hint.
    auto hintAt = [&](int col, int row) {
      const QPoint at = g->visualRect(g->model()->index(row - 1, col - 1)).center();
      QHelpEvent he(QEvent::ToolTip, at, g->viewport()->mapToGlobal(at));
      QApplication::sendEvent(g->viewport(), &he);
      return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(hintAt(TFormChSchedules::ColDuration, 1), QString());
    QCOMPARE(hintAt(TFormChSchedules::ColTimes, 1), form.TimesHint(1));
    // Typed without Enter, then another cell chosen: the typed time is the row's.
    auto* ed = dynamic_cast<TRG_DateTimeEdit*>(g->ColumnEditor(TFormChSchedules::ColStart));
    g->SetCurrentCell(TFormChSchedules::ColStart, 1);
    ed->setText("0 00:00:00");
    g->SetCurrentCell(TFormChSchedules::ColStart, 2);
    QCOMPARE(g->Cells(TFormChSchedules::ColStart, 1), QString("0 00:00:00"));
    QCOMPARE(g->Cells(TFormChSchedules::ColTimes, 1), QString("00:00:00 - 01:00:00"));
    // Without a channel nothing is built and every row says why.
    form.RefEditChannels->SetRecordID(TrefID{"", "Channels"});
    QCOMPARE(form.TimesHint(1), QString("The channel isn't set!"));
    QCOMPARE(g->Cells(TFormChSchedules::ColDuration, 1), QString("-"));
  }

  // "Add row" puts a row without content under the current one: no box, the row says what is
  // missing in its slot and hint, and the rows after it keep their figures.
  void AddRowShowsItsErrorInItsSlot() {
    TProject p;
    TFormChSchedules form(*p.Db);
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    const QString before3 = g->Cells(TFormChSchedules::ColTimes, 3);
    g->SetCurrentCell(TFormChSchedules::ColStart, 2);
    form.RefTblFrame1->BtnAddRowClick();
    QCOMPARE(g->DataRowCount(), 5);
    QVERIFY2(p.Op.Messages.empty(), p.Op.Messages.empty() ? "" : p.Op.Messages[0].Text.c_str());
    const QString msg = "No film or playlist is chosen in this row.";
    QVERIFY2(g->Cells(TFormChSchedules::ColTimes, 3).contains(msg), qPrintable(g->Cells(TFormChSchedules::ColTimes, 3)));
    QCOMPARE(form.TimesHint(3), msg);
    QCOMPARE(g->Cells(TFormChSchedules::ColDuration, 3), QString("-"));
    QCOMPARE(g->Cells(TFormChSchedules::ColDuration, 1), QString("01:00:00"));
    QCOMPARE(g->Cells(TFormChSchedules::ColTimes, 4), before3);
    // Another edit while the row is still empty: still no box.
    TypeStart(form, 4, "0 01:45:00");
    QVERIFY(p.Op.Messages.empty());
    QVERIFY(g->Cells(TFormChSchedules::ColTimes, 3).contains(msg));
  }

  // The grid strip's picture buttons have names for screen readers and walkthroughs, and hints.
  void GridStripButtonsAreNamed() {
    TProject p;
    TFormChSchedules form(*p.Db);
    struct {
      QToolButton* Button;
      const char* Name;
      const char* Hint;
    } cases[] = {{form.RefTblFrame1->BtnAddRow, "Add row", "Add row"},
                 {form.RefTblFrame1->BitBtnCopyRow, "Copy row", "Copy row"},
                 {form.RefTblFrame1->BtnDelRow, "Delete row", "Delete row"},
                 {form.RefTblFrame1->BtnMoveUp, "Move up", "Move row up"},
                 {form.RefTblFrame1->BtnMoveDown, "Move down", "Move row down"}};
    for (const auto& c : cases) {
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c.Button);
      QVERIFY(a);
      QCOMPARE(a->text(QAccessible::Name), QString(c.Name));
      QCOMPARE(c.Button->text(), QString(c.Name));
      QCOMPARE(c.Button->toolTip(), QString(c.Hint));
      QCOMPARE(c.Button->toolButtonStyle(), Qt::ToolButtonIconOnly);
    }
  }

  void AutoPeriodFollowsTheContent() {
    TProject p;
    TFormChSchedules form(*p.Db);
    QVERIFY(form.DateTimeEditPeriod->isEnabled());
    form.CheckBoxRepeatImmediately->setChecked(true);
    QVERIFY(!form.DateTimeEditPeriod->isEnabled());
    QCOMPARE(form.DateTimeEditPeriod->text(), QString("1 00:00:00"));
    TypeStart(form, 3, "1 01:00:00");  // content now ends at 1 day 02:30
    QCOMPARE(form.DateTimeEditPeriod->text(), QString("2 00:00:00"));
    TJson rec = form.JFrame1->CompToRecord(false);
    QCOMPARE(Qs(JsonStr(rec, "Period")), QString("2 00:00:00"));
    QVERIFY(JsonBool(rec, "AutoPeriod"));
  }

  void ShuffleMovesContentWithinBlocks() {
    TProject p;
    TJson tbl = TJson::array();
    tbl.push_back(Row("0 00:00:00", 0, Ref("a", "Films"), TJson::parse(R"([{"stbmute":{"Method":"command","Value":"1","Delay":0}}])")));
    for (int i = 0; i < 5; ++i) tbl.push_back(Row("", 0, Ref(i % 2 ? "a" : "b", "Films")));
    tbl.push_back(Row("", 0, Ref("pl", "PlayLists")));
    p.Coll("ChSched").UpdateRecord("cs", TJson{{"Name", "Evening"}, {"Channel", Ref("ch", "Channels")},
                                               {"AutoPeriod", true}, {"Period", "1 00:00:00"}, {"Table", tbl}});
    TFormChSchedules form(*p.Db);
    form.ShuffleSeed = 7;
    std::vector<QString> prompts;
    std::deque<std::optional<QString>> answers{QString("1"), QString("99")};
    form.OnInputQuery = [&](const QString& caption, const QString& prompt, const QString& def) {
      prompts.push_back(caption + "|" + prompt + "|" + def);
      auto a = answers.front();
      answers.pop_front();
      return a;
    };
    p.Op.Answers = {TMsgAnswer::No, TMsgAnswer::No};  // no playlists, no commands
    form.BtnShuffleClick();
    QCOMPARE(prompts, (std::vector<QString>{"Shuffle options|First row?|1", "Shuffle options|Last row?|7"}));
    QStringList questions;
    for (const auto& m : p.Op.Messages) questions << Qs(m.Text);
    QCOMPARE(questions, QStringList({"Shuffle the playlists?", "Shuffle the commands?"}));
    TJson after = form.RefTblFrame1->StringGrid->SaveToJson();
    QCOMPARE(after.size(), tbl.size());
    QVERIFY(JsonEqual(after[6], tbl[6]));      // the playlist stays where it is
    QVERIFY(JsonEqual(after[0][3], tbl[0][3]));  // so do the commands
    for (size_t i = 0; i < tbl.size(); ++i) QVERIFY(JsonEqual(after[i][0], tbl[i][0]));  // start times
    QVERIFY(form.JFrame1->WasChanges());
    // Not a number: "Error", nothing moves.
    answers = {QString("x"), QString("3")};
    p.Op.Messages.clear();
    form.BtnShuffleClick();
    QCOMPARE(p.Op.Messages.size(), size_t(1));
    QCOMPARE(Qs(p.Op.Messages[0].Text), QString("Error"));
    QVERIFY(JsonEqual(form.RefTblFrame1->StringGrid->SaveToJson(), after));
  }

  void CommandDialogRoundTrip() {
    TProject p;
    TJson list = TJson::parse(R"([{"mystery":{"Method":"x"}}])");
    TFormChShCommands dlg(nullptr, list, elmt_cmdChan, p.Db.get());
    // Channel schedules do not offer "STB locate"; control panel buttons do.
    QStringList offered;
    for (QTreeWidgetItemIterator it(dlg.TreeViewExistingCmd); *it; ++it) offered << (*it)->text(0);
    QVERIFY(offered.contains("STBs") && offered.contains("STB mute") && !offered.contains("STB locate"));
    QCOMPARE(dlg.TreeViewExistingCmd->topLevelItemCount(), 5);  // one heading per group
    QCOMPARE(dlg.TreeViewCmd->topLevelItem(0)->text(0), QString("???"));
    auto pick = [&](const QString& text) {
      auto found = dlg.TreeViewExistingCmd->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
      QVERIFY(!found.isEmpty());
      dlg.TreeViewExistingCmd->setCurrentItem(found[0]);
      dlg.ButtonAddClick();
    };
    pick("STB mute");
    QVERIFY(dlg.GroupBoxDelay->isVisibleTo(&dlg) && !dlg.GroupBoxChannel->isVisibleTo(&dlg));
    dlg.FloatSpinEditDelay->SetValue(-2.5);
    pick("Set channel");
    QVERIFY(dlg.GroupBoxChannel->isVisibleTo(&dlg));
    dlg.RefEdit1->SetRecordID(TrefID{"cmd", "Channels"});
    QCOMPARE(dlg.TreeViewCmd->currentItem()->text(0), QString("Set channel Lights"));
    pick("Show Web-page");
    QVERIFY(dlg.GroupBoxCust1->isVisibleTo(&dlg) && dlg.GroupBoxSTime->isVisibleTo(&dlg));
    QCOMPARE(dlg.GroupBoxSTime->title(), QString("Timeout"));
    QCOMPARE(dlg.GroupBoxCust2->title(), QString("HTML-element"));
    dlg.EditCust2->setText("frame");
    dlg.DateTimeEditSTime->SetValueAsText("0 00:01:00");
    // Drag "Show Web-page" (index 3) onto "???" (index 0): it goes in front.
    dlg.TreeViewCmdDragDrop(dlg.TreeViewCmd->topLevelItem(0));
    // Then drag "???" (now index 1) onto the next one: the two change places.
    dlg.TreeViewCmd->setCurrentItem(dlg.TreeViewCmd->topLevelItem(1));
    dlg.TreeViewCmdDragDrop(dlg.TreeViewCmd->topLevelItem(2));
    TJson saved;
    dlg.fonCmdsValueSaved = [&](QObject*, const TJson& l) { saved = l; };
    dlg.ButtonSaveClick();
    TJson expected = TJson::parse(R"([
      {"showpage":{"Method":"command","Value":"frame","Delay":0,"Time":"0 00:01:00"}},
      {"stbmute":{"Method":"command","Value":"1","Delay":-2.5}},
      {"mystery":{"Method":"x"}},
      {"channel":{"Method":"command","Value":"cmd","Delay":0}}
    ])");
    QVERIFY2(JsonEqual(saved, expected), saved.dump().c_str());
    QVERIFY(dlg.Saved());
  }

  // From a "Commands" cell: an empty cell holds [] even when the dialog is cancelled; a saved
  // list goes back into the cell and its text.
  void CommandDialogFromTheGridCell() {
    TProject p;
    TJson rec = *p.Coll("ChSched").GetRecord("cs");
    rec["Table"][0] = TJson::array({"0 00:00:00", 0, Ref("a", "Films")});  // no commands cell
    p.Coll("ChSched").UpdateRecord("cs", rec);
    TFormChSchedules form(*p.Db);
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    g->SetCurrentCell(TFormChSchedules::ColCommands, 1);
    auto* ed = dynamic_cast<TRG_BtnEdit*>(g->ColumnEditor(TFormChSchedules::ColCommands));
    QVERIFY(ed);
    {
      TFormChShCommands dlg(ed, ed->Json(), elmt_cmdChan, p.Db.get());
      dlg.reject();
    }
    QVERIFY2(JsonEqual(g->SaveToJson()[0][3], TJson::array()), g->SaveToJson()[0].dump().c_str());
    {
      TFormChShCommands dlg(ed, ed->Json(), elmt_cmdChan, p.Db.get());
      auto found = dlg.TreeViewExistingCmd->findItems("TV mute", Qt::MatchExactly | Qt::MatchRecursive);
      dlg.TreeViewExistingCmd->setCurrentItem(found[0]);
      dlg.ButtonAddClick();
      dlg.ButtonSaveClick();
    }
    QCOMPARE(g->Cells(TFormChSchedules::ColCommands, 1), QString("TV mute"));
    QVERIFY(JsonEqual(g->SaveToJson()[0][3],
                      TJson::parse(R"([{"tvmute":{"Method":"command","Value":"1","Delay":0}}])")));
    // A new row starts with an empty list.
    form.RefTblFrame1->BtnAddRowClick();
    QVERIFY(JsonEqual(g->SaveToJson()[1][3], TJson::array()));
  }

  void ShowScheduleEqualsTheCommandLine() {
    TProject p;
    p.Db->Save();
    TFormSchedules form(*p.Db);
    QCOMPARE(form.RefTblFrame1->StringGrid->Cells(1, 1), QString("Evening"));
    TFormDoSchedule* show = form.Button1Click();
    QVERIFY(show);
    show->CheckBoxTimeLine->setChecked(true);
    QVERIFY(show->ButtonDoScheduleClick());
    const std::string shown = show->Memo1->toPlainText().toStdString();
    TCliRun cli = RunCliIn(p.Tmp, "--project p.pq2pr show-schedule Week --timeline");
    QCOMPARE(cli.Code, 0);
    QCOMPARE(Qs(shown), Qs(cli.Out));
    QVERIFY(shown.find("Channel: Movies") != std::string::npos);
    // The options are kept for the next window.
    show->close();
    delete show;
    TFormDoSchedule again(nullptr, *p.Db);
    QVERIFY(again.CheckBoxTimeLine->isChecked());
    QVERIFY(again.CheckBoxShowSeconds->isChecked());
    QVERIFY(!again.CheckBoxCustomProp->isVisible());
    again.CheckBoxShowRowsFilms->setChecked(false);
    QVERIFY(!again.CheckBoxShowDays->isEnabled());
  }

  // An empty set is allowed; its "Show schedule" shows nothing but opens.
  void EmptySchedulesTable() {
    TProject p;
    p.Coll("Schedules").UpdateRecord("s1", TJson{{"Name", "Week"}, {"Table", TJson::array()}});
    TFormSchedules form(*p.Db);
    QCOMPARE(form.RefTblFrame1->StringGrid->DataRowCount(), 0);
    QVERIFY(!form.JFrame1->WasChanges());
    std::unique_ptr<TFormDoSchedule> show(form.Button1Click());
    QVERIFY(show);
    QCOMPARE(show->Memo1->toPlainText(), QString());
  }

  // Not a timed test: how long an edit takes to reach the grid with 500 rows.
  void BenchEditToRepaint500Rows() {
    TProject p;
    TJson tbl = TJson::array();
    for (int i = 0; i < 500; ++i) tbl.push_back(Row(i % 10 == 0 ? DeltaTimeToStr(i / 10 * 0.125) : "", 0, Ref(i % 2 ? "a" : "b", "Films")));
    p.Coll("ChSched").UpdateRecord("cs", TJson{{"Name", "Big"}, {"Channel", Ref("ch", "Channels")},
                                               {"AutoPeriod", true}, {"Period", "1 00:00:00"}, {"Table", tbl}});
    TFormChSchedules form(*p.Db);
    form.resize(1000, 700);
    int n = 0;
    QBENCHMARK {
      TypeStart(form, 11, n++ % 2 ? "0 03:00:00" : "0 03:00:01");
      form.RefTblFrame1->StringGrid->viewport()->repaint();
    }
  }
};

QTEST_MAIN(TScheduleWindowsTest)
#include "ScheduleWindows.moc"
