#include "advert/forms/Contracts.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>
#include <cmath>
#include <fstream>
#include <map>

#include <fmt/format.h>

#include "JFrame/RefStringGrid.h"
#include "advert/TimeLine.h"
#include "advert/forms/ContrTime.h"
#include "advert/forms/DaysOfWeek.h"
#include "base/Operator.h"
#include "JFrame/QtText.h"

namespace {

TFormRegistration registration("TFormContracts", [](QWidget* parent) -> QWidget* {
  TDbFile* db = ContractsDb();
  return db ? new TFormContracts(*db, parent) : nullptr;
});

std::string Std(const QString& s) { return s.toStdString(); }

std::map<int, std::function<void()>>& Listeners() {
  static std::map<int, std::function<void()>> listeners;
  return listeners;
}

QString Html(const std::string& s) { return Qs(s).toHtmlEscaped(); }

}  // namespace

void NotifyTimeLineChanged() {
  auto copy = Listeners();  // a listener may remove itself
  for (auto& [id, f] : copy) f();
}

int AddTimeLineListener(std::function<void()> listener) {
  static int next = 0;
  Listeners()[++next] = std::move(listener);
  return next;
}

void RemoveTimeLineListener(int id) { Listeners().erase(id); }

TFormContracts::TFormContracts(TDbFile& contracts, QWidget* parent, TDbFile* mainDb,
                               TDbFile* timeLine)
    : TRecordForm(contracts, "Contracts", "Contracts", "New contract", parent),
      FMainDb(mainDb ? mainDb : DbF1()),
      FTimeLine(timeLine ? timeLine : TimeLineDb()) {
  setObjectName("FormContracts");
  resize(980, 560);
  auto* recLayout = new QVBoxLayout(TabSheetRec);
  PageControlContract = new QTabWidget(TabSheetRec);
  PageControlContract->setObjectName("PageControlContract");
  recLayout->addWidget(PageControlContract);
  TabSheetContract = new QWidget;
  TabSheetContract->setObjectName("TabSheetContract");
  TabSheetReport = new QWidget;
  TabSheetReport->setObjectName("TabSheetReport");
  PageControlContract->addTab(TabSheetContract, "Contract");
  PageControlContract->addTab(TabSheetReport, "Report");

  auto* contractLayout = new QVBoxLayout(TabSheetContract);
  RefTblFrame1 = new TRefTblFrame(TabSheetContract);
  RefTblFrame1->setObjectName("RefTblFrame1");
  contractLayout->addWidget(RefTblFrame1, 1);
  GroupBoxDescr = DescriptionBox(TabSheetContract, EditDescr);
  contractLayout->addWidget(GroupBoxDescr);
  GroupBoxActions = new QGroupBox("Actions", TabSheetContract);
  GroupBoxActions->setObjectName("GroupBoxActions");
  auto* actions = new QHBoxLayout(GroupBoxActions);
  BtnAddToTimeLine = new QPushButton("Add to timeline", GroupBoxActions);
  BtnAddToTimeLine->setObjectName("BtnAddToTimeLine");
  Button2 = new QPushButton("Delete from TL", GroupBoxActions);
  Button2->setObjectName("Button2");
  BtnCheckFreeTime = new QPushButton("Check free time", GroupBoxActions);
  BtnCheckFreeTime->setObjectName("BtnCheckFreeTime");
  actions->addWidget(BtnAddToTimeLine);
  actions->addWidget(Button2);
  actions->addWidget(BtnCheckFreeTime);
  actions->addStretch(1);
  contractLayout->addWidget(GroupBoxActions);
  LabelResult = new QLabel(TabSheetContract);
  LabelResult->setObjectName("LabelResult");
  LabelResult->setWordWrap(true);
  LabelResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
  contractLayout->addWidget(LabelResult);
  connect(BtnAddToTimeLine, &QPushButton::clicked, this, &TFormContracts::BtnAddToTimeLineClick);
  connect(Button2, &QPushButton::clicked, this, &TFormContracts::Button2Click);
  connect(BtnCheckFreeTime, &QPushButton::clicked, this, &TFormContracts::BtnCheckFreeTimeClick);

  auto* reportLayout = new QVBoxLayout(TabSheetReport);
  RichEditReport = new QTextEdit(TabSheetReport);
  RichEditReport->setObjectName("RichEditReport");
  RichEditReport->setReadOnly(true);
  reportLayout->addWidget(RichEditReport, 1);
  auto* reportButtons = new QHBoxLayout;
  BtnReportRefresh = new QPushButton("Refresh", TabSheetReport);
  BtnReportRefresh->setObjectName("BtnReportRefresh");
  BtnExportCsv = new QPushButton("Export CSV...", TabSheetReport);
  BtnExportCsv->setObjectName("BtnExportCsv");
  reportButtons->addWidget(BtnReportRefresh);
  reportButtons->addWidget(BtnExportCsv);
  reportButtons->addStretch(1);
  reportLayout->addLayout(reportButtons);
  connect(BtnReportRefresh, &QPushButton::clicked, this, &TFormContracts::RefreshReport);
  connect(BtnExportCsv, &QPushButton::clicked, this, &TFormContracts::BtnExportCsvClick);
  connect(PageControlContract, &QTabWidget::currentChanged, this, [this] {
    if (PageControlContract->currentWidget() == TabSheetReport) RefreshReport();
  });

  TRefStringGrid* grid = RefTblFrame1->StringGrid;
  grid->SetColCount(ccContractColumns + 1);
  for (int c = 0; c < ccContractColumns; ++c) {
    grid->Columns()[c + 1].SetCaption(ContractColumnCaptions[c]);
    grid->Columns()[c + 1].SetEditing(true);
  }
  grid->OnLoaded = [this](TRefStringGrid* g) { RefTblFrame1StringGridLoaded(g); };
  grid->Loaded();
  // The view's columns leave out the fixed one (it is the row header).
  const int widths[ccContractColumns] = {150, 170, 90, 90, 130, 150};
  for (int c = 0; c < ccContractColumns; ++c) grid->setColumnWidth(c, widths[c]);

  JFrame1->LayerComps->AddComp("Table", grid);
  JFrame1->LayerComps->AddComp("Description", EditDescr, vt_String);
  auto previous = JFrame1->OnChange;
  JFrame1->OnChange = [this, previous](TJFrame* f) {
    if (previous) previous(f);
    LabelResult->clear();
    if (PageControlContract->currentWidget() == TabSheetReport) RefreshReport();
  };
  LoadFrame();
}

void TFormContracts::RefTblFrame1StringGridLoaded(TRefStringGrid* grid) {
  RefColumn(grid, ccPlace + 1, "Places", "Select place");

  auto* film = new TRG_RefEdit(grid);
  film->SetAfterCreate(ccFilm + 1);
  if (FMainDb) {
    for (const char* coll : {"Films", "PlayLists"}) {
      TCollectionData cd;
      FMainDb->SC(coll, "Tree", cd);
      film->AddCollData(cd);
    }
  }
  film->SetTreeCaption("Select film or playlist");

  const TDateTime today = std::floor(Now());
  for (int c : {ccStartDate, ccStopDate}) {
    auto* date = new TRG_DateTimeEdit(grid);
    date->SetFormat("dd.mm.yyyy");
    date->SetAfterCreate(c + 1);
    const TDateTime start = c == ccStartDate ? today : today + 7;
    date->SetStartValue(start);
    date->SetStartValueAsString(Qs(DateToStr(start)));
  }

  auto* times = new TRG_BtnEdit(grid);
  times->SetAfterCreate(ccTimes + 1);
  times->setReadOnly(true);
  times->FStartJson = TimesArrayToJson({{0, 23, 1}});
  times->FOnTextNeedUpdate = [](TRG_BtnEdit*, const TJson& json, QString& text, int, int) {
    text = Qs(TimesArrayText(json));
  };
  times->FormClassName = "TFormContrTime";
  times->FormClass = [](TRG_BtnEdit* owner) -> QDialog* {
    return new TFormContrTime(owner, owner->window());
  };

  auto* days = new TRG_BtnEdit(grid);
  days->SetAfterCreate(ccDaysOfWeek + 1);
  days->setReadOnly(true);
  days->FStartJson = static_cast<int>(dmAllDays);
  days->FOnTextNeedUpdate = [](TRG_BtnEdit*, const TJson& json, QString& text, int, int) {
    bool notInteger = false;
    int mask = DayMaskOfCell(json, &notInteger);
    // A value that is no day mask is shown as it is; booking refuses it.
    text = notInteger ? (json.is_number() ? Qs(json.dump()) : QString()) : Qs(DayMaskText(mask));
  };
  days->FormClassName = "TFormDaysOfWeek";
  days->FormClass = [](TRG_BtnEdit* owner) -> QDialog* {
    return new TFormDaysOfWeek(owner, owner->window());
  };
}

std::string TFormContracts::ContractToBook(const char* action) {
  const std::string caption = Std(windowTitle());
  std::string id = JFrame1->ID();
  if (id.empty()) {
    AppOperator().MessageBox(caption, "Select a contract first.", TMsgIcon::Information);
    return {};
  }
  // The time line books the contract as it is in contracts.json: unsaved edits go first.
  if (!JFrame1->AskChangesSaveNo()) {
    LabelResult->setText(QString("Not %1: the contract's changes are not saved.").arg(action));
    return {};
  }
  if (Db().SaveDisabled()) {
    // The store keeps changes of a file it may not write in memory only: the contract shown
    // may not be the one in the file, and the booking would not match it after a restart.
    AppOperator().MessageBox(
        caption,
        fmt::format("The contracts database {} cannot be written{}. Nothing was {}.",
                    Db().FileName(), Db().LastError().empty() ? "" : " (" + Db().LastError() + ")",
                    action),
        TMsgIcon::Error);
    LabelResult->setText(QString("Nothing was %1: contracts.json cannot be written.").arg(action));
    return {};
  }
  if (!FTimeLine) {
    AppOperator().MessageBox(caption, "The time line database is not available.", TMsgIcon::Error);
    return {};
  }
  return id;
}

void TFormContracts::BtnAddToTimeLineClick() {
  const std::string id = ContractToBook("booked");
  if (id.empty()) return;
  TDbFile* main = FMainDb && FMainDb->DbIsOpen() ? FMainDb : nullptr;
  TTimeLine tl(*FTimeLine, Db(), main);
  const bool ok = tl.AddContract(id);
  const TTimeLineStats& s = tl.Stats();
  LabelResult->setText(ok ? QString("Added to the time line: %1 rows, %2 cells booked, %3 day "
                                    "records written.")
                                .arg(s.Rows)
                                .arg(s.CellsBooked)
                                .arg(s.DaysWritten)
                          : QString("Not added; the time line is unchanged.") +
                                (tl.LastError().empty() ? QString() : " " + Qs(tl.LastError())));
  TimeLineChanged();
}

void TFormContracts::Button2Click() {
  const std::string id = ContractToBook("deleted");
  if (id.empty()) return;
  TTimeLine tl(*FTimeLine, Db(), nullptr);
  const bool wasBooked = tl.ContractsCollection().GetRecord(id).has_value();
  const bool ok = tl.DeleteContract(id);
  const TTimeLineStats& s = tl.Stats();
  if (!ok)
    LabelResult->setText("Not deleted; the time line is unchanged." +
                         (tl.LastError().empty() ? QString() : " " + Qs(tl.LastError())));
  else if (!wasBooked)
    LabelResult->setText("The contract was not on the time line.");
  else
    LabelResult->setText(QString("Deleted from the time line: %1 cells cleared, %2 day records "
                                 "written, %3 deleted.")
                             .arg(s.CellsCleared)
                             .arg(s.DaysWritten)
                             .arg(s.DaysDeleted));
  TimeLineChanged();
}

void TFormContracts::BtnCheckFreeTimeClick() {
  const std::string caption = Std(windowTitle());
  if (!FTimeLine) return;
  // The rows as shown, saved or not: a check changes nothing.
  TJson contract = JFrame1->CompToRecord(true);
  std::vector<TContractRow> rows;
  try {
    TSuperReference tracker(&AppOperator());
    TContractRowsSource source;
    source.ContractsColl = &Db().CollectionByName("Contracts");
    source.ContractID = JFrame1->ID();
    rows = ContractRows(contract, source, tracker);
  } catch (const std::exception&) {
    return;  // the row's fault has been shown
  }
  std::vector<TFreeTimeRow> check = CheckFreeTime(*FTimeLine, rows, JFrame1->ID());
  std::string text;
  TDbCollectionItem& places = Db().CollectionByName("Places");
  for (size_t r = 0; r < check.size(); ++r) {
    const TFreeTimeRow& f = check[r];
    std::string place = f.Place;
    if (auto rec = places.GetRecord(f.Place); rec && rec->is_object()) place = JsonStr(*rec, "Name");
    text += fmt::format("Row {} ({}): {} hours to book", r + 1, place, f.Cells);
    if (f.TakenCells == 0)
      text += ", all free.\n";
    else
      text += fmt::format(", {} of them already hold other contracts (up to {} spots an hour).\n",
                          f.TakenCells, f.MaxOtherSpots);
  }
  if (text.empty()) text = "The contract has no rows.";
  LabelResult->setText(Qs(text).trimmed());
  AppOperator().MessageBox(caption, text, TMsgIcon::Information);
}

void TFormContracts::TimeLineChanged() {
  NotifyTimeLineChanged();
  RefreshReport();
}

void TFormContracts::RefreshReport() {
  FReport = {};
  const std::string id = JFrame1->ID();
  if (!FTimeLine || id.empty()) {
    RichEditReport->setHtml("<p>Select a contract.</p>");
    return;
  }
  FReport = AsBookedReport(*FTimeLine, &Db(), id);
  QString html = "<h3>As booked: " + Html(FReport.ContractName.empty() ? id : FReport.ContractName) +
                 "</h3>";
  if (FReport.Places.empty()) {
    html += "<p>The contract has nothing booked on the time line.</p>";
    RichEditReport->setHtml(html);
    return;
  }
  for (const auto& p : FReport.Places) {
    html += "<h4>" + Html(p.PlaceName.empty() ? p.Place : p.PlaceName) + "</h4>";
    html += "<table border='1' cellspacing='0' cellpadding='3'>"
            "<tr><th>Date</th><th>Hours</th><th>Spots</th></tr>";
    for (const auto& d : p.Days)
      html += QString("<tr><td>%1</td><td align='right'>%2</td><td align='right'>%3</td></tr>")
                  .arg(Qs(DateToStr(static_cast<TDateTime>(d.Day))))
                  .arg(d.Hours)
                  .arg(d.Spots);
    html += QString("<tr><th>Total</th><th align='right'>%1</th><th align='right'>%2</th></tr>"
                    "</table>")
                .arg(p.Hours)
                .arg(p.Spots);
  }
  html += QString("<p><b>Total: %1 hours, %2 spots.</b></p>").arg(FReport.Hours).arg(FReport.Spots);
  RichEditReport->setHtml(html);
}

void TFormContracts::BtnExportCsvClick() {
  RefreshReport();
  if (JFrame1->ID().empty()) return;
  const QString suggested =
      Qs((FReport.ContractName.empty() ? FReport.Contract : FReport.ContractName) + ".csv");
  QString file = AskCsvFile ? AskCsvFile(this, suggested)
                            : QFileDialog::getSaveFileName(this, "Export CSV", suggested,
                                                           "CSV files (*.csv);;All files (*)");
  if (file.isEmpty()) return;
  const std::string csv = AsBookedCsv(FReport);
  std::ofstream out(file.toStdString(), std::ios::binary | std::ios::trunc);
  out << csv;
  out.close();
  if (!out) {
    AppOperator().MessageBox("IO Error", "The file " + file.toStdString() + " could not be written.",
                             TMsgIcon::Error);
    return;
  }
  LabelResult->setText("The report was written to " + file + ".");
}
