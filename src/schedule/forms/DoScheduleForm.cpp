#include "schedule/forms/DoScheduleForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const char* const SettingsCollection = "ShowSchedule";
const char* const SettingsRecord = "ShowSchedule";
}  // namespace

TFormDoSchedule::TFormDoSchedule(QWidget* Owner, TDbFile& DbfFile, const QString& CustomCaption)
    : QWidget(Owner), FDb(DbfFile) {
  setObjectName("FormDoSchedule");
  setWindowTitle("Show schedule");
  setAttribute(Qt::WA_DeleteOnClose);
  resize(720, 520);
  auto* main = new QVBoxLayout(this);
  auto* opts = new QGridLayout();
  auto box = [this](const char* name, const QString& caption, bool on) {
    auto* c = new QCheckBox(caption, this);
    c->setObjectName(name);
    c->setChecked(on);
    return c;
  };
  CheckBoxTimeLine = box("CheckBoxTimeLine", "Show as timeline", false);
  CheckBoxShowSeconds = box("CheckBoxShowSeconds", "Show seconds", true);
  CheckBoxShowDays = box("CheckBoxShowDays", "Show days", false);
  CheckBoxShowAllFilms = box("CheckBoxShowAllFilms", "Show all films", true);
  CheckBoxShowRowsFilms = box("CheckBoxShowRowsFilms", "Show rows of films", true);
  CheckBoxSaveCsv = box("CheckBoxSaveCsv", "Save in CSV-file", false);
  CheckBoxShowFilmStartTime = box("CheckBoxShowFilmStartTime", "Show film's start time", true);
  CheckBoxCustomProp = box("CheckBoxCustomProp", CustomCaption, false);
  CheckBoxCustomProp->setVisible(!CustomCaption.isEmpty());
  QCheckBox* order[] = {CheckBoxTimeLine,     CheckBoxSaveCsv,           CheckBoxShowRowsFilms,
                        CheckBoxShowSeconds,  CheckBoxShowDays,          CheckBoxShowAllFilms,
                        CheckBoxShowFilmStartTime, CheckBoxCustomProp};
  for (int i = 0; i < 8; ++i) opts->addWidget(order[i], i / 4, i % 4);
  main->addLayout(opts);
  ButtonDoSchedule = new QPushButton("Show schedule", this);
  ButtonDoSchedule->setObjectName("ButtonDoSchedule");
  auto* row = new QHBoxLayout();
  row->addWidget(ButtonDoSchedule);
  row->addStretch(1);
  main->addLayout(row);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  main->addWidget(Memo1, 1);

  LayerCommon = std::make_unique<TLayerOfComps>(nullptr, stNew, nullptr, "Common");
  LayerComps = LayerCommon->AddLayer("Records");
  LayerComps->AddComp("TimeLine", CheckBoxTimeLine);
  LayerComps->AddComp("ShowSeconds", CheckBoxShowSeconds);
  LayerComps->AddComp("ShowDays", CheckBoxShowDays);
  LayerComps->AddComp("ShowAllFilms", CheckBoxShowAllFilms);
  LayerComps->AddComp("ShowRowsFilms", CheckBoxShowRowsFilms);
  LayerComps->AddComp("SaveCsv", CheckBoxSaveCsv);
  LayerComps->AddComp("ShowFilmStartTime", CheckBoxShowFilmStartTime);
  LayerComps->AddComp("CustomProp", CheckBoxCustomProp);
  std::optional<TJson> rec = FDb.CollectionByName(SettingsCollection).GetRecord(SettingsRecord);
  LayerComps->SetCompInfoReporting(rec && rec->is_object() ? *rec : TJson::object());

  connect(CheckBoxShowRowsFilms, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
  connect(ButtonDoSchedule, &QPushButton::clicked, this, [this] { ButtonDoScheduleClick(); });
  UpdateEnabled();
}

TFormDoSchedule::~TFormDoSchedule() = default;

void TFormDoSchedule::UpdateEnabled() {
  const bool rows = CheckBoxShowRowsFilms->isChecked();
  for (QCheckBox* c : {CheckBoxShowSeconds, CheckBoxShowDays, CheckBoxShowAllFilms,
                       CheckBoxShowFilmStartTime, CheckBoxCustomProp})
    c->setEnabled(rows);
}

TShowScheduleOptions TFormDoSchedule::Options() const {
  TShowScheduleOptions o;
  o.TimeLine = CheckBoxTimeLine->isChecked();
  o.ShowSeconds = CheckBoxShowSeconds->isChecked();
  o.ShowDays = CheckBoxShowDays->isChecked();
  o.ShowAllFilms = CheckBoxShowAllFilms->isChecked();
  o.ShowRowsFilms = CheckBoxShowRowsFilms->isChecked();
  o.SaveCsv = CheckBoxSaveCsv->isChecked();
  o.ShowFilmStartTime = CheckBoxShowFilmStartTime->isChecked();
  return o;
}

bool TFormDoSchedule::ButtonDoScheduleClick() {
  if (!FSchedule) {
    if (ScheduleID.empty()) return false;
    FSchedule = BuildSchedule(ScheduleID, FDb);
    if (!FSchedule) return false;
  }
  FCsvPath.clear();
  std::vector<std::string> lines = ShowSchedule(FDb, *FSchedule, Options(), &FCsvPath);
  QString text;
  for (const std::string& l : lines) {
    text += QString::fromStdString(l);
    text += '\n';
  }
  Memo1->setPlainText(text);
  // A schedule named by ScheduleID is built again next time, so edits meanwhile show.
  if (!ScheduleID.empty()) FSchedule.reset();
  return true;
}

void TFormDoSchedule::SaveOptions() {
  TJson obj = LayerComps->GetCompInfo();
  FDb.CollectionByName(SettingsCollection).NewOrUpdateRecord(SettingsRecord, obj);
}

void TFormDoSchedule::closeEvent(QCloseEvent* e) {
  SaveOptions();
  e->accept();
}
