#include "JFrame/RecordForm.h"

#include "JFrame/RefStringGrid.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

TRecordForm::TRecordForm(TDbFile& db, const std::string& collection, const std::string& formName,
                         const std::string& newRecordName, QWidget* parent)
    : QWidget(parent), FDb(db) {
  setWindowTitle(QString::fromStdString(formName));
  resize(760, 520);
  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(4, 4, 4, 4);
  Splitter = new QSplitter(Qt::Horizontal, this);
  Splitter->setObjectName("Splitter");
  Splitter->setChildrenCollapsible(false);
  outer->addWidget(Splitter);

  JFrame1 = new TJFrame(this);
  Splitter->addWidget(JFrame1);
  PanelMain = new QWidget(Splitter);
  PanelMain->setObjectName("PanelMain");
  auto* mainLayout = new QVBoxLayout(PanelMain);
  mainLayout->setContentsMargins(4, 0, 0, 0);
  PageControl1 = new QTabWidget(PanelMain);
  PageControl1->setObjectName("PageControl1");
  mainLayout->addWidget(PageControl1, 1);
  Splitter->addWidget(PanelMain);
  Splitter->setStretchFactor(0, 0);
  Splitter->setStretchFactor(1, 1);
  Splitter->setSizes({230, 530});

  TabSheetTree = new QWidget;
  TabSheetTree->setObjectName("TabSheetTree");
  auto* treeLayout = new QVBoxLayout(TabSheetTree);
  LabelFolder = new QLabel("Select a record in the tree. Records and folders are added with "
                           "the tree's popup menu (right mouse button); a folder is renamed by "
                           "typing its new name above and pressing \"Save\".",
                           TabSheetTree);
  LabelFolder->setWordWrap(true);
  LabelFolder->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  treeLayout->addWidget(LabelFolder);
  treeLayout->addStretch(1);
  TabSheetRec = new QWidget;
  TabSheetRec->setObjectName("TabSheetRec");
  PageControl1->addTab(TabSheetTree, "TabSheetTree");
  PageControl1->addTab(TabSheetRec, "TabSheetRec");

  JFrame1->SetFormName(formName);
  JFrame1->SetNewRecordName(newRecordName);
  JFrame1->AssignComponents(PageControl1, TabSheetRec, TabSheetTree);
  TCollectionData cd;
  db.SC(collection, "Tree", cd);
  JFrame1->TreeView->SetCollectionsData(cd);
}

void TRecordForm::LoadFrame() { JFrame1->Load(); }

QGroupBox* TRecordForm::DescriptionBox(QWidget* parent, QLineEdit*& editDescr) {
  auto* box = new QGroupBox("Description", parent);
  box->setObjectName("GroupBoxDescr");
  auto* layout = new QVBoxLayout(box);
  editDescr = new QLineEdit(box);
  editDescr->setObjectName("EditDescr");
  layout->addWidget(editDescr);
  return box;
}

void TRecordForm::closeEvent(QCloseEvent* event) {
  if (!JFrame1->FormCloseQuery()) {
    event->ignore();
    return;
  }
  event->accept();
}

TRG_RefEdit* TRecordForm::RefColumn(TRefStringGrid* grid, int ACol, const std::string& collection,
                                    const QString& treeCaption) {
  auto* edit = new TRG_RefEdit(grid);
  edit->SetAfterCreate(ACol);
  TCollectionData cd;
  FDb.SC(collection, "Tree", cd);
  edit->AddCollData(cd);
  edit->SetTreeCaption(treeCaption);
  return edit;
}
