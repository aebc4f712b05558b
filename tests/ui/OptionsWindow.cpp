// The options window: what it shows for missing and stored records, the preset bitrate of a
// chosen resolution, the folder picker and the Save/Cancel round trip.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include "JFrame/FloatSpin.h"
#include "shell/Databases.h"
#include "shell/Options.h"
#include "shell/forms/Options.h"
#include "support/TestSupport.h"

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }

struct TProject {
  TTempDir Tmp;
  std::unique_ptr<TDbFile> Db = CreateMainDatabase();
  TProject() {
    Db->SetFileName(Tmp.File("p.pq2pr"));
    Db->New();
    Db->Save();
  }
  TDbCollectionItem& Options() { return Db->CollectionByName("Options"); }
};

// A change made with the keyboard, as the operator makes it (runs the change handler).
void ChooseWithKeys(QComboBox* combo, int index) {
  while (combo->currentIndex() < index) QTest::keyClick(combo, Qt::Key_Down);
  while (combo->currentIndex() > index) QTest::keyClick(combo, Qt::Key_Up);
}
}  // namespace

class TOptionsWindowTest : public QObject {
  Q_OBJECT
private slots:
  void MissingRecordShowsTheDefaults() {
    TScopedFakeOperator op;
    TProject p;
    TFormOptions f(*p.Db);
    QCOMPARE(f.windowTitle(), QString("Options"));
    QCOMPARE(f.EditVideoDir->text(), Qs(OptionDirDefault(odVideo)));
    QCOMPARE(f.EditServersDir->text(), QString("..\\servers"));
    QCOMPARE(f.EditHTMLdir->text(), QString("..\\HTML"));
    QCOMPARE(f.ComboBoxResolution->currentText(), QString("HD720 1280x720"));
    QCOMPARE(f.EditVideoBitRate->text(), QString("12000"));
    QCOMPARE(f.ComboBoxAspect->currentText(), QString("16:9"));
    QCOMPARE(f.ComboBoxFrameRate->currentText(), QString("25"));
    QVERIFY(!f.CheckBoxPlayChannels->isChecked());
    QVERIFY(!f.CheckBoxMoveFile->isChecked());
    QVERIFY(!f.CheckBoxKeepExtention->isChecked());
    QStringList items;
    for (int i = 0; i < f.ComboBoxResolution->count(); ++i) items << f.ComboBoxResolution->itemText(i);
    QCOMPARE(items, QStringList({"NTSC 720x480", "PAL 720x576", "HD720 1280x720", "HD1080 1920x1080"}));
    QVERIFY(!p.Options().GetRecord("Options"));  // showing writes nothing
  }

  void StoredRecordIsShownWithItsOwnBitrate() {
    TScopedFakeOperator op;
    TProject p;
    p.Options().NewRecord("Options", TJson::parse(R"({"WinVideoDir": "..\\media", "ServersDir": "/srv/out",
        "HTMLDir": "..\\HTML", "PlayChannels": true, "Resolution": "PAL 720x576", "BitRate": 9000,
        "AspectRatio": "4:3", "FrameRate": "29.97", "MoveFile": true, "KeepExt": false})"));
    TFormOptions f(*p.Db);
    QCOMPARE(f.EditVideoDir->text(), QString("..\\media"));
    QCOMPARE(f.EditServersDir->text(), QString("/srv/out"));
    QVERIFY(f.CheckBoxPlayChannels->isChecked());
    QCOMPARE(f.ComboBoxResolution->currentText(), QString("PAL 720x576"));
    QCOMPARE(f.EditVideoBitRate->text(), QString("9000"));  // stored, though no preset has it
    QCOMPARE(f.ComboBoxAspect->currentText(), QString("4:3"));
    QCOMPARE(f.ComboBoxFrameRate->currentText(), QString("29.97"));
    QVERIFY(f.CheckBoxMoveFile->isChecked());
  }

  void OnlyAChosenResolutionSetsItsPresetBitrate() {
    TScopedFakeOperator op;
    TProject p;
    TFormOptions f(*p.Db);
    f.show();
    f.EditVideoBitRate->SetValue(8000);
    ChooseWithKeys(f.ComboBoxAspect, 1);
    QCOMPARE(f.ComboBoxAspect->currentText(), QString("4:3"));
    QCOMPARE(f.EditVideoBitRate->text(), QString("8000"));
    ChooseWithKeys(f.ComboBoxFrameRate, 2);
    QCOMPARE(f.EditVideoBitRate->text(), QString("8000"));
    ChooseWithKeys(f.ComboBoxResolution, 3);
    QCOMPARE(f.EditVideoBitRate->text(), QString("18000"));
    ChooseWithKeys(f.ComboBoxResolution, 0);
    QCOMPARE(f.EditVideoBitRate->text(), QString("5000"));
  }

  void BitrateEditLimits() {
    TScopedFakeOperator op;
    TProject p;
    TFormOptions f(*p.Db);
    f.EditVideoBitRate->SetValue(30000);
    QCOMPARE(f.EditVideoBitRate->text(), QString("24000"));
    f.EditVideoBitRate->setText("");
    QTest::keyClicks(f.EditVideoBitRate, "15000");
    QCOMPARE(f.EditVideoBitRate->text(), QString("15000"));
    QTest::keyClick(f.EditVideoBitRate, Qt::Key_Up);
    QCOMPARE(f.EditVideoBitRate->text(), QString("15100"));
  }

  void SaveStoresExactlyTheBoundKeys() {
    TScopedFakeOperator op;
    TProject p;
    auto* f = new TFormOptions(*p.Db);
    f->show();
    QSignalSpy destroyed(f, &QObject::destroyed);
    f->EditServersDir->setText("..\\packages");
    f->CheckBoxKeepExtention->setChecked(true);
    ChooseWithKeys(f->ComboBoxResolution, 3);
    QTest::mouseClick(f->BitBtnSave, Qt::LeftButton);
    std::optional<TJson> rec = p.Options().GetRecord("Options");
    QVERIFY(rec.has_value());
    const TJson expected = TJson::parse(R"({"WinVideoDir": "", "ServersDir": "..\\packages",
        "HTMLDir": "..\\HTML", "PlayChannels": false, "Resolution": "HD1080 1920x1080",
        "BitRate": 18000, "AspectRatio": "16:9", "FrameRate": "25", "MoveFile": false,
        "KeepExt": true, "BackupDays": 14})");
    TJson want = expected;
    want["WinVideoDir"] = OptionDirDefault(odVideo);
    QVERIFY2(JsonEqual(*rec, want), rec->dump().c_str());
    QVERIFY(!rec->contains("Name"));
    QVERIFY(destroyed.count() == 1 || QTest::qWaitFor([&] { return destroyed.count() == 1; }, 1000));
    // The encoder reads what was saved.
    TJson options = ReadOptions(*p.Db);
    QCOMPARE(options["BitRate"].get<int>(), 18000);

    // A second window shows the saved record and saving again updates it.
    auto* again = new TFormOptions(*p.Db);
    QCOMPARE(again->ComboBoxResolution->currentText(), QString("HD1080 1920x1080"));
    QVERIFY(again->CheckBoxKeepExtention->isChecked());
    again->CheckBoxKeepExtention->setChecked(false);
    again->BitBtnSaveClick();
    QVERIFY(!JsonBool(*p.Options().GetRecord("Options"), "KeepExt"));
    QVERIFY(op.Messages.empty());
  }

  // Keys the window does not show ("StreamServer", keys of other programs) and a bitrate of
  // the operator's own survive a save.
  void SaveKeepsWhatTheWindowDoesNotShow() {
    TScopedFakeOperator op;
    TProject p;
    p.Options().NewRecord("Options", TJson{{"Resolution", "PAL 720x576"},
                                           {"BitRate", 9000},
                                           {"StreamServer", "http://10.0.0.5:8080/"},
                                           {"Other", {{"a", 1}}}});
    TFormOptions f(*p.Db);
    f.CheckBoxMoveFile->setChecked(true);
    f.BitBtnSaveClick();
    QVERIFY(op.Messages.empty());
    const TJson rec = *p.Options().GetRecord("Options");
    QCOMPARE(Qs(JsonStr(rec, "StreamServer")), QString("http://10.0.0.5:8080/"));
    QVERIFY(JsonEqual(rec["Other"], TJson{{"a", 1}}));
    QCOMPARE(rec["BitRate"].get<int>(), 9000);
    QVERIFY(JsonBool(rec, "MoveFile"));
  }

  void CancelStoresNothing() {
    TScopedFakeOperator op;
    TProject p;
    p.Options().NewRecord("Options", TJson{{"ServersDir", "..\\servers"}});
    const std::string before = ReadFileBytes(p.Db->FileName());
    auto* f = new TFormOptions(*p.Db);
    f->show();
    QSignalSpy destroyed(f, &QObject::destroyed);
    f->EditServersDir->setText("/elsewhere");
    QTest::mouseClick(f->BitBtnCancel, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return destroyed.count() == 1; }, 1000));
    QCOMPARE(Qs(JsonStr(*p.Options().GetRecord("Options"), "ServersDir")), QString("..\\servers"));
    QCOMPARE(ReadFileBytes(p.Db->FileName()), before);
  }

  void PagesAreChosenInTheList() {
    TScopedFakeOperator op;
    TProject p;
    TFormOptions f(*p.Db);
    f.show();
    QCOMPARE(f.TreeViewOptions->topLevelItemCount(), 3);
    QCOMPARE(f.TreeViewOptions->topLevelItem(0)->text(0), QString("Files and Directories"));
    QCOMPARE(f.TreeViewOptions->topLevelItem(1)->text(0), QString("Services"));
    QCOMPARE(f.TreeViewOptions->topLevelItem(2)->text(0), QString("Encoder"));
    QCOMPARE(f.PageControlOpt->currentWidget(), f.TabSheet1);
    QCOMPARE(f.Panel1->text(), QString("Files and Directories"));
    QTreeWidgetItem* encoder = f.TreeViewOptions->topLevelItem(2);
    QRect r = f.TreeViewOptions->visualItemRect(encoder);
    QTest::mouseClick(f.TreeViewOptions->viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(f.PageControlOpt->currentWidget(), f.TabSheet3);
    QCOMPARE(f.Panel1->text(), QString("Encoder"));
    f.TreeViewOptions->setFocus();
    QTest::keyClick(f.TreeViewOptions, Qt::Key_Up);
    QCOMPARE(f.PageControlOpt->currentWidget(), f.TabSheet2);
    QCOMPARE(f.Panel1->text(), QString("Services"));
  }

  void FolderPickerStoresTheProjectRelativeForm() {
    TScopedFakeOperator op;
    TProject p;
    TFormOptions f(*p.Db);
    const QString projectDir = Qs(ProjectDir(*p.Db));
    QString start, title;
    QString answer = projectDir + "/media/";
    TFolderChooser original = FolderChooser();
    FolderChooser() = [&](QWidget*, const QString& t, const QString& s) {
      title = t;
      start = s;
      return answer;
    };
    f.EditHTMLdir->setText("..\\HTML");
    QTest::mouseClick(f.BtnHTMLDir, Qt::LeftButton);
    QCOMPARE(title, QString("Select directory"));
    QCOMPARE(start, projectDir + "/HTML");  // the edit's folder, expanded
    QCOMPARE(f.EditHTMLdir->text(), QString("..\\media"));
    answer = "/mnt/video/";
    QTest::mouseClick(f.ButtonDir1, Qt::LeftButton);
    QCOMPARE(f.EditVideoDir->text(), QString("/mnt/video"));
    answer = "";  // cancelled
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(f.EditServersDir->text(), QString("..\\servers"));
    FolderChooser() = original;
  }
};

QTEST_MAIN(TOptionsWindowTest)
#include "OptionsWindow.moc"
