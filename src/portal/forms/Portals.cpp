#include "portal/forms/Portals.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <filesystem>

#include "JFrame/RefEdit.h"
#include "portal/DoWeb.h"
#include "portal/WebPage.h"
#include "shell/Options.h"
#include "JFrame/QtText.h"

namespace {
TRecordFormRegistration<TFormPortals> registration("TFormPortals");


// The check run's progress goes to the window's status bar; questions and error boxes go to
// the console's operator.
class TStatusBarOperator : public IOperator {
public:
  TStatusBarOperator(QStatusBar* bar, IOperator& op) : FBar(bar), FOp(op) {}
  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override {
    FOp.MessageBox(caption, text, icon);
  }
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override {
    return FOp.Ask(caption, text, icon, buttons, safeAnswer);
  }
  void StatusText(const std::string& text) override {
    FBar->showMessage(Qs(text));
    FBar->repaint();
  }
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override {
    FOp.OpenRecord(coll, id);
  }
  void RunOnUiThread(std::function<void()> fn) override { FOp.RunOnUiThread(std::move(fn)); }

private:
  QStatusBar* FBar;
  IOperator& FOp;
};

QGroupBox* RefBox(QWidget* parent, const QString& caption, TRefEdit*& edit, const char* name,
                  TDbFile& db) {
  auto* box = new QGroupBox(caption, parent);
  auto* l = new QVBoxLayout(box);
  edit = new TRefEdit(box);
  edit->setObjectName(name);
  TCollectionData cd;
  db.SC("WebPages", "Tree", cd);
  edit->AddCollData(cd);
  edit->SetTreeCaption("Select Web page");
  l->addWidget(edit);
  return box;
}

QGroupBox* FileBox(QWidget* parent, const QString& caption, QLineEdit*& edit, const char* name,
                   QPushButton*& button) {
  auto* box = new QGroupBox(caption, parent);
  auto* l = new QHBoxLayout(box);
  edit = new QLineEdit(box);
  edit->setObjectName(name);
  button = new QPushButton("...", box);
  button->setObjectName(QString(name) + "Btn");
  button->setFixedWidth(30);
  l->addWidget(edit, 1);
  l->addWidget(button);
  return box;
}
}  // namespace

TFormPortals::TFormPortals(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "Portals", "Web portals", "New record", parent),
      FGen(std::make_unique<TDataModuleDoWeb>(db)) {
  setObjectName("FormPortals");
  setProperty("HelpContext", 28);
  resize(860, 700);
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  recLayout->addWidget(RefBox(TabSheetRec, "Invisible start Web page", RefEditWPage, "RefEditWPage", db));
  recLayout->addWidget(RefBox(TabSheetRec, "Default system template", RefEditSystemTemplate,
                              "RefEditSystemTemplate", db));
  recLayout->addWidget(RefBox(TabSheetRec, "TV schedule template", RefEditScheduleTemplate,
                              "RefEditScheduleTemplate", db));
  RefEditScheduleTemplate->SetEnableEmpty(true);

  auto* descr = new QGroupBox("Description", TabSheetRec);
  auto* dl = new QVBoxLayout(descr);
  MemoDescr = new QPlainTextEdit(descr);
  MemoDescr->setObjectName("MemoDescr");
  MemoDescr->setFixedHeight(54);
  dl->addWidget(MemoDescr);
  recLayout->addWidget(descr);

  recLayout->addWidget(FileBox(TabSheetRec, "Custom files directory", EditPortalDir, "EditPortalDir", BtnHTMLDir));
  BtnHTMLDir->setObjectName("BtnHTMLDir");
  recLayout->addWidget(FileBox(TabSheetRec, "Channel's schedules template", EditChSchedTemplate,
                               "EditChSchedTemplate", BtnChSchedTemplate));
  recLayout->addWidget(FileBox(TabSheetRec, "Movie description template", EditMovieDescrTemplate,
                               "EditMovieDescrTemplate", BtnMovieDescrTemplate));
  ButtonCheck = new QPushButton("Check", TabSheetRec);
  ButtonCheck->setObjectName("ButtonCheck");
  recLayout->addWidget(ButtonCheck, 0, Qt::AlignLeft);
  recLayout->addStretch(1);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  layout()->setContentsMargins(4, 4, 4, 4);
  // The status bar runs along the bottom of the window, below the frame and the page.
  if (auto* outer = qobject_cast<QBoxLayout*>(layout())) {
    outer->setDirection(QBoxLayout::TopToBottom);
    outer->addWidget(StatusBar1);
  }

  connect(ButtonCheck, &QPushButton::clicked, this, [this] { ButtonCheckClick(); });
  connect(BtnHTMLDir, &QPushButton::clicked, this, [this] { BtnHTMLDirClick(); });
  connect(BtnChSchedTemplate, &QPushButton::clicked, this,
          [this] { EditSchedTemplateBtnClick(EditChSchedTemplate); });
  connect(BtnMovieDescrTemplate, &QPushButton::clicked, this,
          [this] { EditSchedTemplateBtnClick(EditMovieDescrTemplate); });

  JFrame1->LayerComps->AddComp("StartPage", RefEditWPage);
  JFrame1->LayerComps->AddComp("SysTmpl", RefEditSystemTemplate);
  JFrame1->LayerComps->AddComp("Description", MemoDescr, vt_String);
  JFrame1->LayerComps->AddComp("Folder", EditPortalDir, vt_String);
  JFrame1->LayerComps->AddComp("SchTempl", RefEditScheduleTemplate);
  JFrame1->LayerComps->AddComp("ChSchTempl", EditChSchedTemplate, vt_String);
  JFrame1->LayerComps->AddComp("MovieDTempl", EditMovieDescrTemplate, vt_String);
  LoadFrame();
}

TFormPortals::~TFormPortals() = default;

std::string TFormPortals::TemplatesRoot() {
  std::string root = GetOptionDir(Db(), odHTML);
  if (root.empty() || root.back() != '/') root += '/';
  return root;
}

bool TFormPortals::ButtonCheckClick() {
  if (!JFrame1->AskChangesSaveNo()) return false;
  const std::string id = JFrame1->ID();
  if (id.empty()) return false;
  TStatusBarOperator status(StatusBar1, Db().Operator());
  try {
    std::string err = FGen->MakeWebPortal(&status, id, nullptr, nullptr, "", "");
    return err.empty();
  } catch (const std::exception& e) {
    // The error box has been shown by the reference report; the status bar keeps the text.
    StatusBar1->showMessage(Qs(e.what()));
    return false;
  }
}

void TFormPortals::BtnHTMLDirClick() {
  std::string start = ExpandProjectPath(Db(), EditPortalDir->text().toStdString());
  std::string chosen = ChooseDir ? ChooseDir(start)
                                 : QFileDialog::getExistingDirectory(this, "Select directory", Qs(start))
                                       .toStdString();
  if (chosen.empty()) return;
  while (chosen.size() > 1 && chosen.back() == '/') chosen.pop_back();
  std::string stored = MakeProjectRelative(Db(), chosen);
  while (stored.size() > 1 && (stored.back() == '\\' || stored.back() == '/')) stored.pop_back();
  EditPortalDir->setText(Qs(stored));
}

bool TFormPortals::TakeTemplateFile(QLineEdit* edit, const std::string& chosen) {
  std::string root = TemplatesRoot();
  std::string rel;
  if (!TemplateFileBelowRoot(root, chosen, rel)) {
    JFrame1->MsgDlg(TemplateOutsideRootMessage(chosen, root), TMsgIcon::Error,
                    windowTitle().toStdString());
    return false;
  }
  edit->setText(Qs(rel));
  return true;
}

void TFormPortals::EditSchedTemplateBtnClick(QLineEdit* edit) {
  try {
    std::string root = TemplatesRoot();
    std::string current = WebPageTemplatePath(root, edit->text().toStdString());
    std::error_code ec;
    std::string start;
    if (!edit->text().isEmpty() && std::filesystem::is_regular_file(current, ec))
      start = std::filesystem::path(current).parent_path().string();
    else
      start = FLastDir.empty() ? root : FLastDir;
    std::string chosen = ChooseFile ? ChooseFile(start)
                                    : QFileDialog::getOpenFileName(this, QString(), Qs(start), "*.html")
                                          .toStdString();
    if (chosen.empty()) return;
    FLastDir = std::filesystem::path(chosen).parent_path().string();
    TakeTemplateFile(edit, chosen);
  } catch (...) {
    // A failed choice leaves the box as it was.
  }
}
