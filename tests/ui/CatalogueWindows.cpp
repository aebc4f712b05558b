// The catalogue windows: films (file choice below the video root, the length taken over and the
// record saved, the zero-duration question, records added by the encoder), playlists (the
// picker, the figures after every edit, a film with a broken length), channels (the type rule,
// the preview gate) and the encoder (pause, cancel, nothing to create).
#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPointer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>

#include "JFrame/FloatSpin.h"
#include "JFrame/RefStringGrid.h"
#include "catalogue/Channels.h"
#include "catalogue/MediaLength.h"
#include "catalogue/forms/Channels.h"
#include "catalogue/forms/Encoder.h"
#include "catalogue/forms/Films.h"
#include "catalogue/forms/PlayLists.h"
#include "catalogue/forms/VideoWidget.h"
#include "ui/UiProject.h"

namespace fs = std::filesystem;

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }
TJson Ref(const std::string& id, const std::string& cl) { return TJson{{"_ID", id}, {"_CL", cl}}; }

// A film record with every key the window binds.
TJson Film(const std::string& name, const std::string& file) {
  return TJson{{"Name", name},         {"FileName", file},        {"Duration", "00:00:01,000"},
               {"ShowInSchedule", true}, {"KeepWithNext", false}, {"Description", ""},
               {"StateYear", ""},        {"Cast", ""},            {"Genres", ""}};
}

// A clip made by ffmpeg from its test source.
void MakeClip(const std::string& file, int seconds, const std::string& codecs) {
  fs::create_directories(fs::path(file).parent_path());
  std::string cmd = "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=" +
                    std::to_string(seconds) + ":size=320x240:rate=25 " + codecs + " -y '" + file +
                    "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0 || !fs::exists(file))
    throw std::runtime_error("cannot make " + file);
}

struct TProject : TUiProject {
  std::string Root = (Tmp.Path() / "video").string();  // the default root: ..\video
  TProject() {
    fs::create_directories(Root);
    Coll("Tree").NewRecord("Films", TJson::array());
  }
};

// Answers the films window's file dialogs with the files queued here.
struct TDialogAnswers {
  std::vector<QStringList> Answers;
  std::vector<QString> StartDirs;
  TDialogAnswers() {
    TFormFilms::FileDialog = [this](QWidget*, const QString& dir, const QString&, bool) {
      StartDirs.push_back(dir);
      if (Answers.empty()) return QStringList();
      QStringList a = Answers.front();
      Answers.erase(Answers.begin());
      return a;
    };
  }
  ~TDialogAnswers() { TFormFilms::FileDialog = nullptr; }
};
}  // namespace

class TCatalogueWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { TVideoWidget::PrepareLibVlc(); }

  // A new film whose file is chosen is saved by itself with the file's length; reopened, it
  // shows what was stored.
  void NewFilmTakesItsFileAndLengthAndIsSaved() {
    TProject p;
    MakeClip(p.Root + "/Serials/Ep01.m2t", 2, "-f mpegts -c:v mpeg2video");
    TDialogAnswers dlg;
    dlg.Answers.push_back({Qs(p.Root + "/Serials/Ep01.m2t")});
    std::string id;
    QString length;
    {
      TFormFilms form(*p.Db);
      form.JFrame1->AddRecordClick();
      id = form.JFrame1->ID();
      QCOMPARE(dlg.StartDirs.at(0), Qs(p.Root));
      QCOMPARE(form.EditVideoFileName->text(), QString("Serials\\Ep01.m2t"));
      QVERIFY(!form.JFrame1->WasChanges());  // saved already
      TJson stored = *p.Coll("Films").GetRecord(id);
      QCOMPARE(Qs(JsonStr(stored, "Name")), QString("Ep01"));
      QCOMPARE(Qs(JsonStr(stored, "FileName")), QString("Serials\\Ep01.m2t"));
      // the container's length (the player read 0.65 s more on such files)
      std::optional<int64_t> len = MediaFileLengthMs(p.Root + "/Serials/Ep01.m2t");
      QVERIFY(len && *len > 1960 && *len < 2060);
      length = Qs(MediaTimeToStr("hh:mm:ss,mcs", *len));
      QCOMPARE(Qs(JsonStr(stored, "Duration")), length);
      QVERIFY(stored["ShowInSchedule"] == TJson(true));
      QVERIFY(stored["KeepWithNext"] == TJson(false));
      QVERIFY(form.TimeBar1->isEnabled());
      form.BitStp->click();
      QVERIFY(!form.TimeBar1->isEnabled());
      QVERIFY(!form.BtnPlay->isChecked());
    }
    TFormFilms again(*p.Db);
    QStringList entries;
    for (QAction* a : again.JFrame1->PopupMenu()->actions()) entries << a->text();
    QVERIFY(entries.size() > 3);
    QCOMPARE(entries.mid(entries.size() - 2), (QStringList{"Add movies", "Add and encode movies"}));
    QVERIFY(entries[entries.size() - 3].isEmpty());  // the separator
    again.JFrame1->SetID(id);
    QCOMPARE(again.EditVideoFileName->text(), QString("Serials\\Ep01.m2t"));
    QCOMPARE(again.DateTimeEditDuration->ValueAsText(), length);
    QVERIFY(p.Op.Messages.empty());
  }

  void AFileOutsideTheRootIsRefusedAndAZeroDurationAsks() {
    TProject p;
    MakeClip(p.Tmp.File("elsewhere/x.m2t"), 1, "-f mpegts -c:v mpeg2video");
    TDialogAnswers dlg;
    dlg.Answers.push_back({Qs(p.Tmp.File("elsewhere/x.m2t"))});
    TFormFilms form(*p.Db);
    form.JFrame1->AddRecordClick();
    const std::string id = form.JFrame1->ID();
    QCOMPARE(p.Op.Messages.size(), size_t(1));
    QCOMPARE(Qs(p.Op.Messages[0].Text),
             Qs("File \"" + p.Tmp.File("elsewhere/x.m2t") + "\" placed not in Video root directory \"" +
                p.Root + "\" or in it subdirectories!"));
    QCOMPARE(p.Op.Messages[0].Icon, TMsgIcon::Error);
    QCOMPARE(form.EditVideoFileName->text(), QString(""));
    TJson stored = *p.Coll("Films").GetRecord(id);
    QCOMPARE(Qs(JsonStr(stored, "Duration")), QString("00:00:00,000"));

    // Saving with a zero duration asks; No keeps the stored record.
    form.EditCast->setText("someone");
    p.Op.Answers.push_back(TMsgAnswer::No);
    QVERIFY(!form.JFrame1->BtnSaveClick());
    QCOMPARE(Qs(p.Op.Messages.back().Text), QString("Film has zero duration. Save record?"));
    QCOMPARE(Qs(JsonStr(*p.Coll("Films").GetRecord(id), "Cast")), QString(""));
    p.Op.Answers.push_back(TMsgAnswer::Yes);
    QVERIFY(form.JFrame1->BtnSaveClick());
    QCOMPARE(Qs(JsonStr(*p.Coll("Films").GetRecord(id), "Cast")), QString("someone"));

    // Play without a file says where it looked.
    form.BtnPlay->click();
    QCOMPARE(Qs(p.Op.Messages.back().Text), Qs("File not found " + form.FilmPath()));
    QVERIFY(!form.BtnPlay->isChecked());
  }

  // A pasted film whose file exists keeps it; one whose file is missing asks for one.
  void PasteAsksOnlyForAMissingFile() {
    TProject p;
    MakeClip(p.Root + "/a.m2t", 1, "-f mpegts -c:v mpeg2video");
    p.Coll("Films").NewRecord("f1", Film("A", "a.m2t"));
    p.Coll("Films").NewRecord("f2", Film("Gone", "gone.m2t"));
    p.Coll("Tree").UpdateRecord("Films", TJson::parse(R"([{"_ID": "f1"}, {"_ID": "f2"}])"));
    TDialogAnswers dlg;
    TFormFilms form(*p.Db);
    form.JFrame1->SetID("f1");
    form.JFrame1->CopyClick();
    form.JFrame1->PasteClick();
    QCOMPARE(dlg.StartDirs.size(), size_t(0));
    QCOMPARE(form.EditVideoFileName->text(), QString("a.m2t"));
    form.JFrame1->SetID("f2");
    form.JFrame1->CopyClick();
    form.JFrame1->PasteClick();
    QVERIFY2(dlg.StartDirs.size() == 1, p.Op.Texts().empty() ? "" : p.Op.Texts().back().c_str());
  }

  // The encoder's pairs become records beside the selection, in order, each saved at once.
  void AddRecordsSavesEachPairBesideTheSelection() {
    TProject p;
    // A description written on Windows, with CR LF: shown and left, it is not a change.
    TJson first = Film("First", "");
    first["Description"] = "line one\r\nline two";
    p.Coll("Films").NewRecord("f1", first);
    p.Coll("Tree").UpdateRecord("Films", TJson::parse(R"([{"_ID": "f1"}])"));
    TFormFilms form(*p.Db);
    form.JFrame1->SetID("f1");
    form.AddRecords(TJson::parse(
        R"([["serials\\ep01.m2t", "00:21:00,040"], ["ep02.m2t", "00:22:00,000"], ["bad"]])"));
    TJson tree = *p.Coll("Tree").GetRecord("Films");
    QCOMPARE(int(tree.size()), 3);
    TJson a = *p.Coll("Films").GetRecord(tree[1]["_ID"].get<std::string>());
    TJson b = *p.Coll("Films").GetRecord(tree[2]["_ID"].get<std::string>());
    QCOMPARE(Qs(JsonStr(a, "Name")), QString("ep01"));
    QCOMPARE(Qs(JsonStr(a, "FileName")), QString("serials\\ep01.m2t"));
    QCOMPARE(Qs(JsonStr(a, "Duration")), QString("00:21:00,040"));
    QCOMPARE(Qs(JsonStr(b, "Name")), QString("ep02"));
    QVERIFY2(p.Op.Messages.empty(), p.Op.Texts().empty() ? "" : p.Op.Texts().back().c_str());
  }

  void PlayListFiguresFollowEveryEdit() {
    TProject p;
    p.Coll("Films").NewRecord("half", TJson{{"Name", "Half"}, {"Duration", "00:30:00,000"}});
    p.Coll("Films").NewRecord("broken", TJson{{"Name", "Broken"}, {"Duration", "12:xx"}});
    p.Coll("PlayLists").NewRecord(
        "pl", TJson{{"Name", "Evening"}, {"Repeat", 3},
                    {"Table", TJson::array({TJson::array({Ref("half", "Films")})})}});
    p.Coll("PlayLists").NewRecord(
        "self", TJson{{"Name", "Loop"}, {"Repeat", 1},
                      {"Table", TJson::array({TJson::array({Ref("half", "Films")}),
                                              TJson::array({Ref("self", "PlayLists")}),
                                              TJson::array({Ref("broken", "Films")})})}});
    p.Coll("Tree").NewRecord("PlayLists", TJson::parse(R"([{"_ID": "pl"}, {"_ID": "self"}])"));
    TFormPlayLists form(*p.Db);
    form.JFrame1->SetID("pl");
    QCoreApplication::processEvents();
    TRefStringGrid* g = form.RefTblFrame1->StringGrid;
    QCOMPARE(g->Cells(1, 1), QString("Half"));
    QCOMPARE(g->Cells(2, 1), QString("00:30:00"));
    QCOMPARE(g->Cells(3, 1), QString("01:30:00"));
    QCOMPARE(form.LabelPlayListDurations->text(), QString("01:30:00 - playlist duration"));
    QVERIFY(form.LabelPlayListDurations->font().bold());
    // The picker offers films and then playlists.
    auto* ed = dynamic_cast<TRG_RefEdit*>(g->ColumnEditor(1));
    QVERIFY(ed);
    QCOMPARE(g->CellProp(1, 1)->ColCollData().size(), size_t(2));

    form.FloatSpinEditNRepeat->SetValue(50);
    QCoreApplication::processEvents();
    QCOMPARE(g->Cells(3, 1), QString("1 01:00:00"));
    QCOMPARE(form.LabelPlayListDurations->text(), QString("1 01:00:00 - playlist duration"));
    form.RefTblFrame1->BtnAddRowClick();
    QCoreApplication::processEvents();
    QCOMPARE(g->Cells(2, 2), QString("-"));
    QCOMPARE(form.LabelPlayListDurations->text(), QString("- - playlist duration"));

    // Itself and a film with an unreadable length show "-", marked, and nothing breaks.
    p.Op.Answers.push_back(TMsgAnswer::No);
    form.JFrame1->SetID("self");
    QCoreApplication::processEvents();
    QCOMPARE(form.JFrame1->ID(), std::string("self"));
    QCOMPARE(g->Cells(2, 1), QString("00:30:00"));
    QCOMPARE(g->Cells(2, 2), QString("-"));
    QCOMPARE(g->Cells(2, 3), QString("-"));
    QCOMPARE(g->CellProp(2, 3)->Color(), QColor(Qt::red));
    QCOMPARE(form.LabelPlayListDurations->text(), QString("- - playlist duration"));
  }

  void ChannelTypeAndPreviewGate() {
    TProject p;
    p.Coll("Channels").NewRecord("c1", TJson{{"Name", "News"}, {"URL", "IGMP://239.9.9.9:1234"},
                                             {"Type", 0}, {"Play", false}});
    p.Coll("Channels").NewRecord("c2", TJson{{"Name", "Cmd"}, {"URL", "igmp://239.9.9.8:1234"},
                                             {"Type", 2}, {"Play", true}});
    p.Coll("Tree").NewRecord("Channels", TJson::parse(R"([{"_ID": "c1"}, {"_ID": "c2"}])"));
    TFormChannels form(*p.Db);
    form.JFrame1->SetID("c1");
    // Without PlayChannels nothing plays.
    form.CheckBoxShowVideo->click();
    QCOMPARE(Qs(form.LastUrl), QString(""));
    p.Coll("Options").NewRecord("Options", TJson{{"PlayChannels", true}});
    form.CheckBoxShowVideo->click();
    form.CheckBoxShowVideo->click();
    QCOMPARE(Qs(form.LastUrl), QString("udp://@239.9.9.9:1234"));
    // "Command": the controls go, "Show video" is unchecked, the preview stops.
    form.RadioGroupChType->Button(2)->click();
    QVERIFY(!form.CheckBoxShowVideo->isChecked());
    QVERIFY(!form.CheckBoxShowVideo->isEnabled());
    QVERIFY(!form.EditURL->isEnabled());
    QVERIFY(!form.BtnMute->isEnabled());
    QCOMPARE(Qs(form.LastUrl), QString(""));
    form.RadioGroupChType->Button(1)->click();
    QVERIFY(form.EditURL->isEnabled());
    QVERIFY(form.CheckBoxShowVideo->isEnabled());
    // A stored command channel loads with its controls off.
    p.Op.Answers.push_back(TMsgAnswer::No);
    form.JFrame1->SetID("c2");
    QCOMPARE(form.JFrame1->ID(), std::string("c2"));
    QVERIFY(!form.CheckBoxShowVideo->isEnabled());
    QVERIFY(!form.CheckBoxShowVideo->isChecked());
    // A new channel starts with a multicast address.
    p.Op.Answers.push_back(TMsgAnswer::No);
    form.JFrame1->AddRecordClick();
    QVERIFY(form.JFrame1->ID() != "c2");
    QCOMPARE(form.EditURL->text(), QString(KDefaultChannelUrl));
    QCOMPARE(Qs(JsonStr(*p.Coll("Channels").GetRecord(form.JFrame1->ID()), "URL")),
             QString(KDefaultChannelUrl));
  }

  // Pause and continue, then cancel the running encoding: the row fails with "Encode
  // canceled", nothing is left to create, and the window may close.
  void EncoderPausesAndCancels() {
    TProject p;
    MakeClip(p.Root + "/long.mp4", 30, "-c:v mpeg4");
    TFormEncoder* enc = TFormEncoder::Open(*p.Db);
    QVERIFY(enc);
    QCOMPARE(TFormEncoder::Instance(), enc);
    std::vector<QString> captions;
    int step = 0;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] {
      p.Op.RunQueued();  // the worker's reports, as the console's event loop delivers them
      if (!enc->BtnPause->isEnabled()) return;
      QTableWidgetItem* st = enc->StringGrid1->item(0, 3);
      if (!st || !st->text().contains("elapsed")) return;
      if (step == 0) {
        enc->BtnPause->click();
        captions.push_back(enc->BtnPause->text());
        step = 1;
      } else if (step == 1) {
        enc->BtnPause->click();
        captions.push_back(enc->BtnPause->text());
        step = 2;
      } else if (step == 2) {
        p.Op.Answers.push_back(TMsgAnswer::Yes);
        enc->BtnStopEnc->click();
        step = 3;
      }
    });
    timer.start();
    enc->addFiles({p.Root + "/long.mp4"});
    timer.stop();
    QVERIFY2(captions.size() == 2, qPrintable(enc->StringGrid1->item(0, 3)->text()));
    QCOMPARE(captions, (std::vector<QString>{"Continue", "Pause"}));
    QCOMPARE(enc->StringGrid1->item(0, 3)->text(), QString("Encode canceled"));
    QCOMPARE(enc->StringGrid1->item(0, 0)->text(), QString("1"));
    QVERIFY(enc->BtnCreate->isEnabled());
    QVERIFY(!enc->BtnStopEnc->isEnabled());
    enc->BtnCreateClick();
    QCOMPARE(Qs(p.Op.Messages.back().Text), QString("Nothing to create"));
    QVERIFY(enc->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!TFormEncoder::Instance());
  }

  // "Create records" while the only films window has unsaved edits: the encoder keeps its
  // window and its list and says why; once the edits are saved the records are created and the
  // encoder's window closes.
  void CreateRecordsWaitsForAFilmsWindowThatCanTakeThem() {
    TProject p;
    MakeClip(p.Root + "/ready.m2t", 1, "-f mpegts -c:v mpeg2video");
    TDialogAnswers dlg;  // no file chosen for the new film: it stays unsaved
    TFormFilms films(*p.Db);
    films.JFrame1->AddRecordClick();
    films.JFrame1->TryChangeRecordsName("Edited");
    films.EditVideoFileName->setText("x.m2t");
    QVERIFY(films.JFrame1->WasChanges());
    QPointer<TFormEncoder> enc = TFormEncoder::Open(*p.Db);
    enc->addFiles({p.Root + "/ready.m2t"});
    p.Op.RunQueued();
    QVERIFY(enc->BtnCreate->isEnabled());
    p.Op.Messages.clear();
    enc->BtnCreateClick();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!enc.isNull());
    QCOMPARE(enc->StringGrid1->rowCount(), 1);
    QCOMPARE(p.Op.Messages.size(), size_t(1));
    QVERIFY2(Qs(p.Op.Messages[0].Text).contains("The films window has unsaved changes"), p.Op.Messages[0].Text.c_str());
    QCOMPARE(films.EditVideoFileName->text(), QString("x.m2t"));  // the edits are left alone
    p.Op.Answers.push_back(TMsgAnswer::Yes);  // "Film has zero duration. Save record?"
    films.JFrame1->BtnSaveClick();
    QVERIFY(!films.JFrame1->WasChanges());
    enc->BtnCreateClick();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(enc.isNull());
    QCOMPARE(films.EditVideoFileName->text(), QString("ready.m2t"));
  }

  // Closing while encoding asks; Yes keeps encoding, No cancels and the window closes once its
  // job loop has ended (not under the loop's feet).
  void ClosingWhileEncodingAsksAndWaitsForTheLoop() {
    TProject p;
    MakeClip(p.Root + "/long.mp4", 30, "-c:v mpeg4");
    QPointer<TFormEncoder> enc = TFormEncoder::Open(*p.Db);
    bool keptOpen = false, closedDuringLoop = false;
    int step = 0;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] {
      p.Op.RunQueued();
      if (!enc || !enc->BtnPause->isEnabled()) return;
      if (step == 0) {
        p.Op.Answers.push_back(TMsgAnswer::Yes);
        keptOpen = !enc->close();
        step = 1;
      } else if (step == 1) {
        p.Op.Answers.push_back(TMsgAnswer::No);
        enc->close();
        closedDuringLoop = enc.isNull();
        step = 2;
      }
    });
    timer.start();
    enc->addFiles({p.Root + "/long.mp4"});
    timer.stop();
    QVERIFY(keptOpen);
    QVERIFY(!closedDuringLoop);
    QCOMPARE(step, 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(enc.isNull());
    QVERIFY(!TFormEncoder::Instance());
    QCOMPARE(Qs(p.Op.Messages.back().Text), QString("Do continue encoding?"));
  }
};

QTEST_MAIN(TCatalogueWindowsTest)
#include "CatalogueWindows.moc"
