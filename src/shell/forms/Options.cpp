#include "shell/forms/Options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "JFrame/FloatSpin.h"
#include "shell/Databases.h"
#include "shell/Options.h"
#include "JFrame/FormRegistry.h"
#include "JFrame/QtText.h"

namespace {
std::string Std(const QString& s) { return s.toStdString(); }

TFormRegistration registration("TFormOptions", [](QWidget* parent) -> QWidget* {
  TDbFile* db = DbF1();
  return db ? new TFormOptions(*db, parent) : nullptr;
});

// A group box holding an edit and its "..." button.
QGroupBox* DirGroup(QWidget* parent, const QString& title, QLineEdit*& edit, const char* editName,
                    QPushButton*& button, const char* buttonName, int tag) {
  auto* box = new QGroupBox(title, parent);
  auto* lay = new QHBoxLayout(box);
  edit = new QLineEdit(box);
  edit->setObjectName(editName);
  button = new QPushButton("...", box);
  button->setObjectName(buttonName);
  button->setProperty("Tag", tag);
  button->setFixedWidth(32);
  lay->addWidget(edit, 1);
  lay->addWidget(button);
  return box;
}

QCheckBox* CheckBox(QWidget* parent, const QString& caption, const char* name) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  return c;
}
}  // namespace

TFolderChooser& FolderChooser() {
  static TFolderChooser chooser = [](QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
  };
  return chooser;
}

void BrowseDirectory(TDbFile& db, QLineEdit* edit) {
  const QString start = Qs(ExpandProjectPath(db, Std(edit->text())));
  const QString picked = FolderChooser()(edit->window(), "Select directory", start);
  if (picked.isEmpty()) return;
  std::string value = MakeProjectRelative(db, Std(picked));
  while (value.size() > 1 && (value.back() == '/' || value.back() == '\\')) value.pop_back();
  edit->setText(Qs(value));
}

TFormOptions::TFormOptions(TDbFile& db, QWidget* parent) : QWidget(parent), FDb(db) {
  setObjectName("FormOptions");
  setWindowTitle("Options");
  setAttribute(Qt::WA_DeleteOnClose);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 6);
  auto* body = new QHBoxLayout;
  root->addLayout(body, 1);

  TreeViewOptions = new QTreeWidget(this);
  TreeViewOptions->setObjectName("TreeViewOptions");
  TreeViewOptions->setHeaderHidden(true);
  TreeViewOptions->setRootIsDecorated(false);
  TreeViewOptions->setFixedWidth(170);
  body->addWidget(TreeViewOptions);

  auto* right = new QVBoxLayout;
  body->addLayout(right, 1);
  Panel1 = new QLabel(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameShape(QFrame::StyledPanel);
  Panel1->setMargin(6);
  QFont bold = Panel1->font();
  bold.setBold(true);
  bold.setPointSize(bold.pointSize() + 1);
  Panel1->setFont(bold);
  right->addWidget(Panel1);
  PageControlOpt = new QStackedWidget(this);  // pages without tabs
  PageControlOpt->setObjectName("PageControlOpt");
  right->addWidget(PageControlOpt, 1);

  // Files and Directories
  TabSheet1 = new QWidget(PageControlOpt);
  TabSheet1->setObjectName("TabSheet1");
  auto* l1 = new QVBoxLayout(TabSheet1);
  l1->addWidget(DirGroup(TabSheet1, "Video files root directory", EditVideoDir, "EditVideoDir",
                         ButtonDir1, "ButtonDir1", 1));
  l1->addWidget(DirGroup(TabSheet1, "Server's files root directory", EditServersDir,
                         "EditServersDir", Button1, "Button1", 2));
  l1->addWidget(DirGroup(TabSheet1, "HTML-files root directory", EditHTMLdir, "EditHTMLdir",
                         BtnHTMLDir, "BtnHTMLDir", 3));
  auto* backupBox = new QGroupBox("Backups of the project", TabSheet1);
  auto* backupLay = new QHBoxLayout(backupBox);
  EditBackupDays = new TFloatSpinEdit(backupBox);
  EditBackupDays->setObjectName("EditBackupDays");
  EditBackupDays->setAccessibleName("Daily backups kept");
  EditBackupDays->SetPrecision(0);
  EditBackupDays->SetDigits(4);
  EditBackupDays->SetMinValue(0);
  EditBackupDays->SetMaxValue(3650);
  EditBackupDays->SetIncrement(1);
  EditBackupDays->SetDefValue(DefaultBackupDays);
  EditBackupDays->SetValue(DefaultBackupDays);
  EditBackupDays->setFixedWidth(70);
  backupLay->addWidget(new QLabel("Daily backups kept (0: no backups and no journal)", backupBox));
  backupLay->addWidget(EditBackupDays);
  backupLay->addStretch(1);
  l1->addWidget(backupBox);
  l1->addStretch(1);
  EditVideoDir->setProperty("HelpContext", 15);

  // Services
  TabSheet2 = new QWidget(PageControlOpt);
  TabSheet2->setObjectName("TabSheet2");
  auto* l2 = new QVBoxLayout(TabSheet2);
  CheckBoxPlayChannels = CheckBox(TabSheet2, "Play channels", "CheckBoxPlayChannels");
  l2->addWidget(CheckBoxPlayChannels);
  l2->addStretch(1);

  // Encoder
  TabSheet3 = new QWidget(PageControlOpt);
  TabSheet3->setObjectName("TabSheet3");
  auto* l3 = new QVBoxLayout(TabSheet3);
  auto* resBox = new QGroupBox("Video resolution and bitrate", TabSheet3);
  auto* resLay = new QHBoxLayout(resBox);
  ComboBoxResolution = new QComboBox(resBox);
  ComboBoxResolution->setObjectName("ComboBoxResolution");
  EditVideoBitRate = new TFloatSpinEdit(resBox);
  EditVideoBitRate->setObjectName("EditVideoBitRate");
  EditVideoBitRate->SetPrecision(0);
  EditVideoBitRate->SetDigits(5);
  EditVideoBitRate->SetMinValue(1000);
  EditVideoBitRate->SetMaxValue(24000);
  EditVideoBitRate->SetIncrement(100);
  EditVideoBitRate->SetDefValue(12000);
  EditVideoBitRate->setFixedWidth(90);
  auto* kbps = new QLabel("kbps", resBox);
  resLay->addWidget(ComboBoxResolution, 1);
  resLay->addSpacing(12);
  resLay->addWidget(EditVideoBitRate);
  resLay->addWidget(kbps);
  l3->addWidget(resBox);
  auto* pair = new QHBoxLayout;
  auto* aspectBox = new QGroupBox("Aspect ratio", TabSheet3);
  auto* aspectLay = new QHBoxLayout(aspectBox);
  ComboBoxAspect = new QComboBox(aspectBox);
  ComboBoxAspect->setObjectName("ComboBoxAspect");
  aspectLay->addWidget(ComboBoxAspect);
  auto* rateBox = new QGroupBox("Frame rate", TabSheet3);
  auto* rateLay = new QHBoxLayout(rateBox);
  ComboBoxFrameRate = new QComboBox(rateBox);
  ComboBoxFrameRate->setObjectName("ComboBoxFrameRate");
  rateLay->addWidget(ComboBoxFrameRate);
  pair->addWidget(aspectBox);
  pair->addWidget(rateBox);
  l3->addLayout(pair);
  CheckBoxMoveFile = CheckBox(TabSheet3, "Move sourcefile after encoding", "CheckBoxMoveFile");
  CheckBoxKeepExtention = CheckBox(TabSheet3, "Keep source file extention in output filename",
                                   "CheckBoxKeepExtention");
  l3->addWidget(CheckBoxMoveFile);
  l3->addWidget(CheckBoxKeepExtention);
  l3->addStretch(1);

  PageControlOpt->addWidget(TabSheet1);
  PageControlOpt->addWidget(TabSheet2);
  PageControlOpt->addWidget(TabSheet3);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  BitBtnSave = new QPushButton("Save", this);
  BitBtnSave->setObjectName("BitBtnSave");
  BitBtnCancel = new QPushButton("Cancel", this);
  BitBtnCancel->setObjectName("BitBtnCancel");
  buttons->addWidget(BitBtnSave);
  buttons->addWidget(BitBtnCancel);
  root->addLayout(buttons);

  // Defaults shown for a missing record.
  EditServersDir->setText(Qs(OptionDirDefault(odServers)));
  EditVideoDir->setText(Qs(OptionDirDefault(odVideo)));
  EditHTMLdir->setText(Qs(OptionDirDefault(odHTML)));
  for (const TVideoSizeTableRow& row : VideoSizeTable())
    ComboBoxResolution->addItem(Qs(VideoSizeItemText(row)));
  ComboBoxResolution->setCurrentIndex(2);  // HD720
  EditVideoBitRate->SetValue(VideoSizeTable()[2].bitRate);
  for (const TVideoRateTableRow& row : VideoRateTable()) ComboBoxFrameRate->addItem(Qs(row.text));
  ComboBoxFrameRate->setCurrentIndex(0);
  ComboBoxAspect->addItems({"16:9", "4:3"});
  ComboBoxAspect->setCurrentIndex(0);

  connect(BitBtnSave, &QPushButton::clicked, this, &TFormOptions::BitBtnSaveClick);
  connect(BitBtnCancel, &QPushButton::clicked, this, &TFormOptions::BitBtnCancelClick);
  for (QPushButton* b : {ButtonDir1, Button1, BtnHTMLDir})
    connect(b, &QPushButton::clicked, this, [this, b] { ButtonDir1Click(b->property("Tag").toInt()); });
  // Only a resolution the operator picks brings its preset bitrate; the aspect ratio and the
  // frame rate leave a bitrate of the operator's own as it is.
  connect(ComboBoxResolution, &QComboBox::activated, this, &TFormOptions::ComboBoxResolutionChange);
  connect(TreeViewOptions, &QTreeWidget::itemClicked, this, &TFormOptions::PageControlUpdate);
  connect(TreeViewOptions, &QTreeWidget::currentItemChanged, this, &TFormOptions::PageControlUpdate);

  // Bindings, in this order: loading the resolution sets its preset bitrate, and the stored
  // "BitRate" bound after it then shows what the record holds, a preset's or not.
  LayerCommon = std::make_unique<TLayerOfComps>(nullptr, stNew, nullptr, "Common");
  LayerComps = LayerCommon->AddLayer("Records");
  LayerComps->AddComp("WinVideoDir", EditVideoDir, vt_String);
  LayerComps->AddComp("ServersDir", EditServersDir, vt_String);
  LayerComps->AddComp("HTMLDir", EditHTMLdir, vt_String);
  LayerComps->AddComp("PlayChannels", CheckBoxPlayChannels, vt_None);
  LayerComps->AddComp("Resolution", ComboBoxResolution, vt_String);
  LayerComps->AddComp("BitRate", EditVideoBitRate, vt_Integer);
  LayerComps->AddComp("AspectRatio", ComboBoxAspect, vt_String);
  LayerComps->AddComp("FrameRate", ComboBoxFrameRate, vt_String);
  LayerComps->AddComp("MoveFile", CheckBoxMoveFile, vt_None);
  LayerComps->AddComp("KeepExt", CheckBoxKeepExtention, vt_None);
  LayerComps->AddComp("BackupDays", EditBackupDays, vt_Integer);

  FDb.SC("Options", "", CollData);
  std::optional<TJson> rec = CollData.Records->GetRecord("Options");
  LayerComps->SetCompInfo(rec && rec->is_object() ? *rec : TJson::object());

  PageControlOpt->setCurrentIndex(0);
  AddItem("Files and Directories", TabSheet1);
  AddItem("Services", TabSheet2);
  AddItem("Encoder", TabSheet3);
  resize(620, 380);
}

TFormOptions::~TFormOptions() = default;

void TFormOptions::AddItem(const QString& title, QWidget* page) {
  auto* item = new QTreeWidgetItem(TreeViewOptions, QStringList{title});
  item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(page)));
  page->setProperty("Tag", QVariant::fromValue(static_cast<void*>(item)));
  if (TreeViewOptions->topLevelItemCount() == 1) {
    TreeViewOptions->setCurrentItem(item);
    PageControlOpt->setCurrentWidget(page);
    Panel1->setText(title);
  }
}

void TFormOptions::PageControlUpdate() {
  QTreeWidgetItem* item = TreeViewOptions->currentItem();
  if (!item) return;
  auto* page = static_cast<QWidget*>(item->data(0, Qt::UserRole).value<void*>());
  if (!page) return;
  PageControlOpt->setCurrentWidget(page);
  Panel1->setText(item->text(0));
}

void TFormOptions::ComboBoxResolutionChange() {
  const int i = ComboBoxResolution->currentIndex();
  const auto& table = VideoSizeTable();
  if (i >= 0 && static_cast<size_t>(i) < table.size()) EditVideoBitRate->SetValue(table[static_cast<size_t>(i)].bitRate);
}

void TFormOptions::ButtonDir1Click(int tag) {
  switch (tag) {
    case 1: BrowseDirectory(FDb, EditVideoDir); break;
    case 2: BrowseDirectory(FDb, EditServersDir); break;
    case 3: BrowseDirectory(FDb, EditHTMLdir); break;
    default: break;
  }
}

void TFormOptions::BitBtnSaveClick() {
  const TJson shown = LayerComps->GetCompInfo();
  bool ok = false;
  try {
    // The window's keys go into the stored record; the keys it does not show ("StreamServer"
    // and whatever other programs keep there) stay as they are.
    std::optional<TJson> stored = CollData.Records->GetRecord("Options");
    TJson obj = stored && stored->is_object() ? *stored : TJson::object();
    for (auto it = shown.begin(); it != shown.end(); ++it) obj[it.key()] = it.value();
    if (stored)
      ok = CollData.Records->UpdateRecord("Options", obj);
    else
      ok = CollData.Records->NewRecord("Options", obj);
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    // The window stays open so that nothing typed is lost.
    const std::string why = FDb.LastError();
    AppOperator().MessageBox("Error",
                             "The options could not be saved" + (why.empty() ? "." : ": " + why),
                             TMsgIcon::Error);
    return;
  }
  CloseFormWindow(this);
}

void TFormOptions::BitBtnCancelClick() { CloseFormWindow(this); }
