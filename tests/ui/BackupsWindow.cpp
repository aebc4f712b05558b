// File > "Backups...": the list of backups, the difference to the project now, and restoring
// chosen records or the whole project.
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "recstore/Backups.h"
#include "shell/TreeDocument.h"
#include "shell/forms/Backups.h"
#include "ui/UiProject.h"

namespace {
std::time_t Noon(int day) { return LocalNoon(2026, 12, day); }
}  // namespace

class TBackupsWindowTest : public QObject {
  Q_OBJECT
private slots:
  void ADeletedScheduleComesBackFromYesterdaysBackup() {
    TUiProject p;
    std::time_t now = Noon(1);
    p.Db->HistoryClock = [&now] { return now; };
    p.Db->Save();
    TDbCollectionItem& sched = p.Coll("ChSched");
    QVERIFY(StoreRecordCounted(sched, "s1", {{"Name", "Evening"}}));
    QVERIFY(AppendTreeEntry(*p.Db, sched, "s1"));
    QVERIFY(StoreRecordCounted(sched, "s2", {{"Name", "Morning"}}));
    QVERIFY(AppendTreeEntry(*p.Db, sched, "s2"));
    now = Noon(2);  // the day's first change keeps the two schedules
    QVERIFY(sched.DelRecord("s1"));
    QVERIFY(RemoveRecordTreeEntry(*p.Db, sched, "s1"));

    TFormBackups form(*p.Db);
    QCOMPARE(form.TableBackups->rowCount(), 2);
    QCOMPARE(form.TableBackups->item(0, 0)->text(), QString("2026-12-02"));  // newest first
    // From the newest backup: the schedule deleted since (and its tree entry).
    QList<QString> rows;
    for (int r = 0; r < form.TableDiff->rowCount(); ++r)
      rows << form.TableDiff->item(r, 0)->text() + " " + form.TableDiff->item(r, 1)->text() + " " +
                  form.TableDiff->item(r, 2)->text();
    QCOMPARE(rows, (QList<QString>{"ChSched deleted Evening", "Tree changed folder tree of ChSched"}));
    form.AskFirst = false;
    form.TableDiff->selectRow(0);
    form.RestoreSelected();
    QVERIFY2(form.LastResult().startsWith("Restored 1 of 1"), qPrintable(form.LastResult()));
    QCOMPARE(JsonStr(*sched.GetRecord("s1"), "Name"), std::string("Evening"));
    std::vector<std::string> order;
    for (const auto& e : ListInTreeOrder(*p.Db, sched)) order.push_back(e.ID);
    QCOMPARE(order, (std::vector<std::string>{"s1", "s2"}));
    QCOMPARE(form.TableDiff->rowCount(), 0);  // the project holds what the backup holds
  }

  void MongoAndEmptyHistoriesSaySoAndOfferNothing() {
    TUiProject p;
    p.Db->Save();
    TFormBackups form(*p.Db);
    QCOMPARE(form.TableBackups->rowCount(), 0);
    QVERIFY(!form.BtnRestoreAll->isEnabled());
    QVERIFY(form.LabelState->text().contains("No backups yet"));
  }
};

QTEST_MAIN(TBackupsWindowTest)
#include "BackupsWindow.moc"
