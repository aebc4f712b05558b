#include "catalogue/forms/Films.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

#include "JFrame/FloatSpin.h"
#include "JFrame/FormRegistry.h"
#include "base/CommonProcedures.h"
#include "catalogue/Films.h"
#include "catalogue/forms/Encoder.h"
#include "catalogue/forms/VideoWidget.h"
#include "shell/Options.h"
#include "JFrame/QtText.h"

namespace {
TRecordFormRegistration<TFormFilms> registration("TFormFilms");

std::string Std(const QString& s) { return s.toStdString(); }

// LF line breaks as CR LF.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

QLineEdit* TextGroup(QWidget* parent, QVBoxLayout* layout, const char* caption, const char* name) {
  auto* box = new QGroupBox(caption, parent);
  auto* l = new QVBoxLayout(box);
  auto* edit = new QLineEdit(box);
  edit->setObjectName(name);
  l->addWidget(edit);
  layout->addWidget(box);
  return edit;
}

// The films window that takes the encoder's new records: an open one without unsaved edits.
TFormFilms* FreeFilmsWindow(bool& anyOpen) {
  anyOpen = false;
  for (QWidget* w : QApplication::allWidgets()) {
    auto* films = qobject_cast<TFormFilms*>(w);
    if (!films) continue;
    anyOpen = true;
    if (!films->JFrame1->WasChanges()) return films;
  }
  return nullptr;
}

// Takes the encoder's finished files as new film records, opening a films window when none is
// open; a window with unsaved edits is not disturbed.
bool TakeFilmRecords(TDbFile& db, const TJson& pairs, std::string& why) {
  bool anyOpen = false;
  TFormFilms* films = FreeFilmsWindow(anyOpen);
  if (!films && !anyOpen) {
    FormShow(db.CollectionByName("Films"), "");
    films = FreeFilmsWindow(anyOpen);
  }
  if (!films) {
    why = anyOpen ? "The films window has unsaved changes: save or cancel them first."
                  : "The films window could not be opened.";
    return false;
  }
  QWidget* top = films->parentWidget() ? films->parentWidget() : films;
  if (top->isMinimized()) top->showNormal();
  films->AddRecords(pairs);
  return true;
}

const bool takerRegistered = (SetFilmRecordsTaker(TakeFilmRecords), true);
}  // namespace

TFormFilms::TFileDialog TFormFilms::FileDialog;

TFormFilms::TFormFilms(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "Films", "Films", "New record", parent) {
  setObjectName("FormFilms");
  setProperty("HelpContext", 25);
  resize(900, 600);
  try {
    FVideoRoot = GetOptionDir(db, odVideo);
  } catch (const std::exception&) {
    FVideoRoot.clear();
  }

  auto* recLayout = new QVBoxLayout(TabSheetRec);
  recLayout->setContentsMargins(0, 0, 0, 0);
  PageControlFilm = new QTabWidget(TabSheetRec);
  PageControlFilm->setObjectName("PageControlFilm");
  recLayout->addWidget(PageControlFilm);
  TabSheetVideo = new QWidget;
  TabSheetVideo->setObjectName("TabSheetVideo");
  TabSheetDescr = new QWidget;
  TabSheetDescr->setObjectName("TabSheetDescr");
  PageControlFilm->addTab(TabSheetVideo, "Videofile");
  PageControlFilm->addTab(TabSheetDescr, "Description");

  // "Videofile"
  auto* vLayout = new QVBoxLayout(TabSheetVideo);
  GroupBoxVideoFile = new QGroupBox("Video file", TabSheetVideo);
  GroupBoxVideoFile->setObjectName("GroupBoxVideoFile");
  auto* fileLayout = new QHBoxLayout(GroupBoxVideoFile);
  EditVideoFileName = new QLineEdit(GroupBoxVideoFile);
  EditVideoFileName->setObjectName("EditVideoFileName");
  ButtonChoiseDir = new QPushButton("...", GroupBoxVideoFile);
  ButtonChoiseDir->setObjectName("ButtonChoiseDir");
  ButtonChoiseDir->setFixedWidth(32);
  fileLayout->addWidget(EditVideoFileName, 1);
  fileLayout->addWidget(ButtonChoiseDir);
  vLayout->addWidget(GroupBoxVideoFile);

  PanelVideo = new QWidget(TabSheetVideo);
  PanelVideo->setObjectName("PanelVideo");
  PanelVideo->setMinimumHeight(120);
  PasLibVlcPlayer1 = new TVideoWidget(PanelVideo);
  PasLibVlcPlayer1->setObjectName("PasLibVlcPlayer1");
  PasLibVlcPlayer1->Player().MediaOptions = {""};
  TimeBar1 = new TTimeBar(PanelVideo);
  TimeBar1->setObjectName("TimeBar1");
  TimeBar1->setRange(0, 1000);
  TimeBar1->setEnabled(false);
  PanelVideo->installEventFilter(this);
  vLayout->addWidget(PanelVideo, 1);

  PanelButtons = new QWidget(TabSheetVideo);
  PanelButtons->setObjectName("PanelButtons");
  auto* btnLayout = new QHBoxLayout(PanelButtons);
  btnLayout->setContentsMargins(0, 0, 0, 0);
  auto tool = [this, btnLayout](const char* name, QStyle::StandardPixmap icon, const char* tip,
                                bool checkable) {
    auto* b = new QToolButton(PanelButtons);
    b->setObjectName(name);
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(tip);
    b->setCheckable(checkable);
    btnLayout->addWidget(b);
    return b;
  };
  BtnPlay = tool("BtnPlay", QStyle::SP_MediaPlay, "Play / pause", true);
  BitStp = tool("BitStp", QStyle::SP_MediaStop, "Stop", false);
  BtnMute = tool("BtnMute", QStyle::SP_MediaVolumeMuted, "Mute", true);
  Label2 = new QLabel("00:00:00", PanelButtons);
  Label2->setObjectName("Label2");
  btnLayout->addWidget(Label2);
  btnLayout->addStretch(1);
  auto* durLabel = new QLabel("Duration", PanelButtons);
  btnLayout->addWidget(durLabel);
  DateTimeEditDuration = new TDateTimeEdit(PanelButtons);
  DateTimeEditDuration->setObjectName("DateTimeEditDuration");
  DateTimeEditDuration->SetFormat("hh:nn:ss,zzz");
  DateTimeEditDuration->SetButtonVisible(false);
  DateTimeEditDuration->SetValueAsText("00:00:00,000");
  DateTimeEditDuration->setFixedWidth(110);
  btnLayout->addWidget(DateTimeEditDuration);
  CheckBoxShowInSchedule = new QCheckBox("Show in schedule", PanelButtons);
  CheckBoxShowInSchedule->setObjectName("CheckBoxShowInSchedule");
  CheckBoxShowInSchedule->setChecked(true);
  CheckBoxKeepWithNext = new QCheckBox("Keep with next", PanelButtons);
  CheckBoxKeepWithNext->setObjectName("CheckBoxKeepWithNext");
  btnLayout->addWidget(CheckBoxShowInSchedule);
  btnLayout->addWidget(CheckBoxKeepWithNext);
  vLayout->addWidget(PanelButtons);

  // "Description"
  auto* dLayout = new QVBoxLayout(TabSheetDescr);
  auto* descrBox = new QGroupBox("Description", TabSheetDescr);
  auto* dl = new QVBoxLayout(descrBox);
  MemoDescr = new QPlainTextEdit(descrBox);
  MemoDescr->setObjectName("MemoDescr");
  dl->addWidget(MemoDescr);
  dLayout->addWidget(descrBox, 1);
  EditState = TextGroup(TabSheetDescr, dLayout, "Countries, release date", "EditState");
  EditCast = TextGroup(TabSheetDescr, dLayout, "Cast", "EditCast");
  EditGenres = TextGroup(TabSheetDescr, dLayout, "Genres", "EditGenres");

  // Events.
  connect(ButtonChoiseDir, &QPushButton::clicked, this, [this] { ButtonChoiseDirClick(); });
  connect(BtnPlay, &QToolButton::clicked, this, [this] { BtnPlayClick(); });
  connect(BitStp, &QToolButton::clicked, this, [this] { BitStpClick(); });
  connect(BtnMute, &QToolButton::clicked, this, [this] { BtnMuteClick(); });
  connect(TimeBar1, &QSlider::valueChanged, this, [this](int v) { TimeBar1Change(v); });
  TPasLibVlcPlayer& player = PasLibVlcPlayer1->Player();
  player.OnMediaPlayerLengthChanged = [this](int64_t len) { PlayerLengthChanged(len); };
  player.OnMediaPlayerPositionChanged = [this](double pos) { PlayerPositionChanged(pos); };
  player.OnMediaPlayerEndReached = [this] { PlayerEndReached(); };

  JFrame1->OnChange = [this](TJFrame*) { JFrame1Change(); };
  JFrame1->OnNewRecordAdded = [this](TJFrame*, bool paste) { JFrame1NewRecordAdded(paste); };
  JFrame1->OnSaveRecord = [this](TJFrame*, bool& can) { JFrame1SaveRecord(can); };
  // Descriptions keep the line breaks they were stored with (CR LF from the consoles on
  // Windows); the text control only knows LF, and every film would look changed otherwise.
  JFrame1->OnCompToRecord = [this](TJFrame*, TJson& rec) {
    const std::string old = JsonStr(JFrame1->OldRecord(), "Description");
    if (!rec.contains("Description") || !rec["Description"].is_string()) return;
    if (old.find('\n') != std::string::npos && old.find("\r\n") == std::string::npos) return;
    rec["Description"] = WithCrLf(rec["Description"].get<std::string>());
  };

  TLayerOfComps* l = JFrame1->LayerComps;
  l->AddComp("FileName", EditVideoFileName, vt_String);
  l->AddComp("Duration", DateTimeEditDuration, vt_String);
  l->AddComp("ShowInSchedule", CheckBoxShowInSchedule);
  l->AddComp("KeepWithNext", CheckBoxKeepWithNext);
  l->AddComp("Description", MemoDescr, vt_String);
  l->AddComp("StateYear", EditState, vt_String);
  l->AddComp("Cast", EditCast, vt_String);
  l->AddComp("Genres", EditGenres, vt_String);
  LoadFrame();
  // The frame makes its popup menu when it loads; these come after its own entries.
  if (QMenu* menu = JFrame1->PopupMenu()) {
    menu->addSeparator();
    QAction* add = menu->addAction("Add movies");
    add->setObjectName("AddMovies1");
    connect(add, &QAction::triggered, this, [this] { AddMoviesClick(false); });
    QAction* enc = menu->addAction("Add and encode movies");
    enc->setObjectName("AddAndEncodeMovies1");
    connect(enc, &QAction::triggered, this, [this] { AddMoviesClick(true); });
  }
}

TFormFilms::~TFormFilms() {
  // The player goes with its widget; what it still queued is dropped.
  PasLibVlcPlayer1->Player().OnMediaPlayerLengthChanged = nullptr;
  PasLibVlcPlayer1->Player().OnMediaPlayerPositionChanged = nullptr;
  PasLibVlcPlayer1->Player().OnMediaPlayerEndReached = nullptr;
}

std::string TFormFilms::VideoRoot() const { return FVideoRoot; }

std::string TFormFilms::FilmPath() const {
  return FilmAbsolutePath(FVideoRoot, Std(EditVideoFileName->text()));
}

QStringList TFormFilms::RunDialog(const QString& filter, bool multi) {
  if (FileDialog) return FileDialog(this, DialogDir, filter, multi);
  QFileDialog dlg(this);
  dlg.setDirectory(DialogDir);
  dlg.setNameFilter(filter);
  dlg.setViewMode(QFileDialog::List);
  dlg.setFileMode(multi ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  if (dlg.exec() != QDialog::Accepted) return {};
  return dlg.selectedFiles();
}

void TFormFilms::ButtonChoiseDirClick() { ChooseFile(false); }

void TFormFilms::ChooseFile(bool forNewRecord) {
  if (FVideoRoot.empty()) return;
  std::string current = FilmPath();
  if (FileExists(current))
    DialogDir = QFileInfo(Qs(current)).absolutePath();
  else if (DialogDir.isEmpty())
    DialogDir = Qs(FVideoRoot);
  QStringList files = RunDialog("m2t files (*.m2t)", false);
  if (files.isEmpty()) return;
  std::string chosen = Std(QDir::cleanPath(files.first()));
  DialogDir = QFileInfo(files.first()).absolutePath();
  TFilmFileChoice choice = ChooseFilmFile(FVideoRoot, chosen);
  if (!choice.Accepted) {
    JFrame1->MsgDlg(choice.Error, TMsgIcon::Error);
    return;
  }
  EditVideoFileName->setText(Qs(choice.FileName));
  JFrame1->TryChangeRecordsName(choice.Name);
  EnableFilmLengthChange = true;
  if (forNewRecord) AutoSaveRecord = true;
  PlayFile();
}

void TFormFilms::JFrame1NewRecordAdded(bool) {
  if (FVideoRoot.empty()) return;
  if (!FileExists(FilmPath())) ChooseFile(true);
}

void TFormFilms::JFrame1SaveRecord(bool& canDoAction) {
  if (DateTimeEditDuration->Value() == 0 &&
      JFrame1->AskDlg("Film has zero duration. Save record?", TMsgIcon::Warning,
                      TMsgButtons::YesNo, TMsgAnswer::No) != TMsgAnswer::Yes)
    canDoAction = false;
}

void TFormFilms::JFrame1Change() {
  bool wasPlaying = TimeBar1->isEnabled();
  bool paused = PasLibVlcPlayer1->Player().GetState() == plvPlayer_Paused;
  EnableFilmLengthChange = false;
  AutoSaveRecord = false;
  if (paused)
    StopPlay();
  else if (wasPlaying)
    PlayFile();
}

void TFormFilms::PlayFile() {
  std::string path = FilmPath();
  if (!FileExists(path)) {
    StopPlay();
    return;
  }
  TPasLibVlcPlayer& player = PasLibVlcPlayer1->Player();
  player.Play(path, 10000);
  TimeBar1->setEnabled(true);
  player.SetMute(BtnMute->isChecked());
  BtnPlay->setChecked(true);
  // The length stored for a film is the container's: it does not wait for the player.
  if (EnableFilmLengthChange) PlayerLengthChanged(-1);
}

void TFormFilms::StopPlay() {
  EnableFilmLengthChange = false;
  AutoSaveRecord = false;
  TPasLibVlcPlayer& player = PasLibVlcPlayer1->Player();
  if (player.GetState() != plvPlayer_Stopped) player.Stop();
  TrackBar1DisableOnChange = true;
  TimeBar1->setValue(0);
  TrackBar1DisableOnChange = false;
  TimeBar1->setEnabled(false);
  BtnPlay->setChecked(false);
}

void TFormFilms::BtnPlayClick() {
  TPasLibVlcPlayer& player = PasLibVlcPlayer1->Player();
  TPasLibVlcPlayerState st = player.GetState();
  if (TimeBar1->isEnabled() && (st == plvPlayer_Playing || st == plvPlayer_Opening ||
                                st == plvPlayer_Buffering)) {
    player.Pause();
    BtnPlay->setChecked(false);
    return;
  }
  if (st == plvPlayer_Paused) {
    player.Resume();
    BtnPlay->setChecked(true);
    return;
  }
  std::string path = FilmPath();
  if (!FileExists(path)) {
    BtnPlay->setChecked(false);
    JFrame1->MsgDlg("File not found " + path, TMsgIcon::Error);
    return;
  }
  EnableFilmLengthChange = true;
  PlayFile();
}

void TFormFilms::BitStpClick() { StopPlay(); }

void TFormFilms::BtnMuteClick() { PasLibVlcPlayer1->Player().SetMute(BtnMute->isChecked()); }

void TFormFilms::PlayerLengthChanged(int64_t lengthMs) {
  std::string text = FilmLengthText(FilmPath(), lengthMs);
  if (text == "00:00:00,000" || !EnableFilmLengthChange) return;
  if (Qs(text) == DateTimeEditDuration->ValueAsText()) return;
  EnableFilmLengthChange = false;
  DateTimeEditDuration->SetValueAsText(Qs(text));
  if (AutoSaveRecord && DateTimeEditDuration->Value() != 0) {
    AutoSaveRecord = false;
    JFrame1->BtnSaveClick();
  }
}

void TFormFilms::PlayerPositionChanged(double position) {
  Label2->setText(Qs(PasLibVlcPlayer1->Player().GetVideoPosStr("hh:mm:ss")));
  TrackBar1DisableOnChange = true;
  TimeBar1->setValue(TimeBarOfPosition(position));
  TrackBar1DisableOnChange = false;
}

void TFormFilms::PlayerEndReached() { BtnPlay->setChecked(false); }

void TFormFilms::TimeBar1Change(int value) {
  if (TrackBar1DisableOnChange) return;
  PasLibVlcPlayer1->Player().SetVideoPosInPercent(TimeBarSeekPercent(value));
}

void TFormFilms::FitVideo() {
  const int bar = TimeBar1->sizeHint().height();
  QSize avail(PanelVideo->width(), PanelVideo->height() - bar - 6);
  QSize pic = TVideoWidget::FitRatio(avail, TVideoWidget::KRatio169);
  PasLibVlcPlayer1->setGeometry((PanelVideo->width() - pic.width()) / 2, 0, pic.width(),
                                pic.height());
  TimeBar1->setGeometry(0, pic.height() + 3, PanelVideo->width(), bar);
}

bool TFormFilms::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PanelVideo &&
      (event->type() == QEvent::Resize || (event->type() == QEvent::Show && FirstPaint))) {
    FirstPaint = false;
    FitVideo();
  }
  return TRecordForm::eventFilter(watched, event);
}

void TFormFilms::closeEvent(QCloseEvent* event) {
  EnableFilmLengthChange = false;
  TRecordForm::closeEvent(event);
}

void TFormFilms::AddMoviesClick(bool encode) {
  if (DialogDir.isEmpty()) DialogDir = Qs(FVideoRoot);
  QStringList files = RunDialog(encode ? "All files (*)" : "m2t files (*.m2t)", true);
  if (files.isEmpty()) return;
  DialogDir = QFileInfo(files.first()).absolutePath();
  std::vector<std::string> list;
  for (const QString& f : files) list.push_back(Std(QDir::cleanPath(f)));
  TFormEncoder* enc = TFormEncoder::Open(Db());
  if (!enc) return;
  enc->addFiles(list);
}

void TFormFilms::AddRecords(const TJson& pairs) {
  if (!pairs.is_array()) return;
  for (const TJson& pair : pairs) {
    if (!pair.is_array() || pair.size() < 2 || !pair[0].is_string() || !pair[1].is_string())
      continue;
    const std::string file = pair[0].get<std::string>();
    JFrame1->InsertFolderOrRecord(objRecord, false);
    std::string base = file.substr(file.find_last_of("\\/") + 1);
    size_t dot = base.find_last_of('.');
    JFrame1->TryChangeRecordsName(dot == std::string::npos || dot == 0 ? base
                                                                       : base.substr(0, dot));
    EditVideoFileName->setText(Qs(file));
    DateTimeEditDuration->SetValueAsText(Qs(pair[1].get<std::string>()));
    JFrame1->BtnSaveClick();
  }
}
