#include "portal/forms/WebPage.h"

#include <QDialog>
#include <QDropEvent>
#include <QSignalBlocker>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "JFrame/RefEdit.h"
#include "JFrame/RefStringGrid.h"
#include "portal/DoWeb.h"
#include "portal/forms/HTMLedit.h"
#include "shell/Options.h"
#include "JFrame/QtText.h"

namespace {
TRecordFormRegistration<TFormWebPage> registration("TFormWebPage");


bool IsMenuFolder(const QTreeWidgetItem* node) {
  return node && JsonBool(TreeNodeData(node), "IsFolder");
}

TRefStringGrid* TagGrid(QWidget* parent, const char* name, const QStringList& captions) {
  auto* grid = new TRefStringGrid(parent);
  grid->setObjectName(name);
  grid->SetFixedRowCount(1);
  grid->SetFixedColCount(1);
  grid->SetRowCount(2);
  grid->SetFixedColWidth(30);
  grid->SetShowRowNumber(true);
  grid->SetColCount(captions.size() + 1);
  for (int i = 0; i < captions.size(); ++i) {
    grid->Columns()[i + 1].SetCaption(captions[i]);
    grid->Columns()[i + 1].SetEditing(i > 0);  // the tags come from the template
    grid->Columns()[i + 1].SetValueType(vt_String);
  }
  grid->horizontalHeader()->setStretchLastSection(true);
  return grid;
}

// Cells the operator left empty are "not set", as the empty rows of a reloaded template.
void EmptyCellsToNull(TJson& rec, const char* key, std::initializer_list<size_t> cells) {
  auto it = rec.find(key);
  if (it == rec.end() || !it->is_array()) return;
  for (TJson& row : *it)
    if (row.is_array())
      for (size_t c : cells)
        if (c < row.size() && row[c].is_string() && row[c].get<std::string>().empty())
          row[c] = nullptr;
}
}  // namespace

TMenuTree::TMenuTree(QWidget* parent) : QTreeWidget(parent) {
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::CopyAction);
}

namespace {
int IndexIn(QTreeWidget* tree, QTreeWidgetItem* node) {
  return node->parent() ? node->parent()->indexOfChild(node) : tree->indexOfTopLevelItem(node);
}
void TakeOut(QTreeWidget* tree, QTreeWidgetItem* node) {
  if (node->parent())
    node->parent()->removeChild(node);
  else
    tree->takeTopLevelItem(tree->indexOfTopLevelItem(node));
}
void PutIn(QTreeWidget* tree, QTreeWidgetItem* parent, int index, QTreeWidgetItem* node) {
  if (parent) {
    parent->insertChild(index, node);
    parent->setExpanded(true);
  } else {
    tree->insertTopLevelItem(index, node);
  }
}
bool InSubtreeOf(const QTreeWidgetItem* root, const QTreeWidgetItem* node) {
  for (; node; node = node->parent())
    if (node == root) return true;
  return false;
}
}  // namespace

bool TMenuTree::DropNode(QTreeWidgetItem* dragged, QTreeWidgetItem* target) {
  if (!dragged || dragged == target) return false;
  QSignalBlocker quiet(this);
  const bool draggedFolder = IsMenuFolder(dragged);
  if (!target) {
    if (!dragged->parent() && indexOfTopLevelItem(dragged) == topLevelItemCount() - 1)
      return false;
    TakeOut(this, dragged);
    PutIn(this, nullptr, topLevelItemCount(), dragged);
  } else {
    if (draggedFolder && InSubtreeOf(dragged, target)) return false;
    if (IsMenuFolder(target)) {
      TakeOut(this, dragged);
      PutIn(this, target, 0, dragged);
    } else if (draggedFolder) {
      QTreeWidgetItem* level = target->parent();
      TakeOut(this, dragged);
      PutIn(this, level, 0, dragged);
    } else if (target->parent() == dragged->parent() &&
               IndexIn(this, target) == IndexIn(this, dragged) + 1) {
      QTreeWidgetItem* level = target->parent();
      TakeOut(this, target);
      PutIn(this, level, IndexIn(this, dragged), target);
    } else {
      QTreeWidgetItem* level = target->parent();
      TakeOut(this, dragged);
      PutIn(this, level, IndexIn(this, target), dragged);
    }
  }
  setCurrentItem(dragged);
  dragged->setSelected(true);
  return true;
}

bool TMenuTree::AcceptOwnDrag(QDropEvent* event) {
  if (event->source() != this) {
    event->ignore();
    return false;
  }
  // The tree moves the node itself; the drag must not remove anything afterwards.
  event->setDropAction(Qt::CopyAction);
  event->accept();
  return true;
}

void TMenuTree::dragEnterEvent(QDragEnterEvent* event) { AcceptOwnDrag(event); }

void TMenuTree::dragMoveEvent(QDragMoveEvent* event) { AcceptOwnDrag(event); }

void TMenuTree::dropEvent(QDropEvent* event) {
  if (!AcceptOwnDrag(event)) return;
  if (DropNode(currentItem(), itemAt(event->position().toPoint()))) emit NodeMoved();
}

TFormWebPage::TFormWebPage(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "WebPages", "Web pages", "New record", parent),
      FGen(std::make_unique<TDataModuleDoWeb>(db)) {
  setObjectName("FormWebPage");
  setProperty("HelpContext", 26);
  resize(900, 640);
  auto* recLayout = new QVBoxLayout(TabSheetRec);

  GroupBoxTemplate = new QGroupBox("HTML template", TabSheetRec);
  auto* tl = new QHBoxLayout(GroupBoxTemplate);
  EditHtmlFileName = new QLineEdit(GroupBoxTemplate);
  EditHtmlFileName->setObjectName("EditHtmlFileName");
  ButtonChoiseDir = new QPushButton("...", GroupBoxTemplate);
  ButtonChoiseDir->setObjectName("ButtonChoiseDir");
  ButtonChoiseDir->setFixedWidth(30);
  BtnReloadTemplate = new QPushButton("Reload", GroupBoxTemplate);
  BtnReloadTemplate->setObjectName("BtnReloadTemplate");
  tl->addWidget(EditHtmlFileName, 1);
  tl->addWidget(ButtonChoiseDir);
  tl->addWidget(BtnReloadTemplate);
  recLayout->addWidget(GroupBoxTemplate);

  GroupBoxDescr = new QGroupBox("Description", TabSheetRec);
  auto* dl = new QVBoxLayout(GroupBoxDescr);
  MemoDescr = new QPlainTextEdit(GroupBoxDescr);
  MemoDescr->setObjectName("MemoDescr");
  MemoDescr->setFixedHeight(54);
  dl->addWidget(MemoDescr);
  recLayout->addWidget(GroupBoxDescr);

  GroupBoxSysTmpl = new QGroupBox("System template", TabSheetRec);
  auto* sl = new QHBoxLayout(GroupBoxSysTmpl);
  RefEditSystemTemplate = new TRefEdit(GroupBoxSysTmpl);
  RefEditSystemTemplate->setObjectName("RefEditSystemTemplate");
  LabelSysTmpl = new QLabel("Page is system template", GroupBoxSysTmpl);
  LabelSysTmpl->setObjectName("LabelSysTmpl");
  sl->addWidget(RefEditSystemTemplate, 1);
  sl->addWidget(LabelSysTmpl, 1);
  recLayout->addWidget(GroupBoxSysTmpl);
  {
    TCollectionData cd;
    db.SC("WebPages", "Tree", cd);
    RefEditSystemTemplate->AddCollData(cd);
    RefEditSystemTemplate->SetTreeCaption("Select Web page");
    // An empty reference means the portal's default system template.
    RefEditSystemTemplate->SetEnableEmpty(true);
  }

  PageControlTags = new QTabWidget(TabSheetRec);
  PageControlTags->setObjectName("PageControlTags");
  recLayout->addWidget(PageControlTags, 1);
  // Takes the room of the tabs while the template has no tags.
  recLayout->addStretch(0);
  for (QWidget* w : {static_cast<QWidget*>(GroupBoxTemplate), static_cast<QWidget*>(GroupBoxDescr),
                     static_cast<QWidget*>(GroupBoxSysTmpl)})
    w->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

  TabSheetText = new QWidget;
  TabSheetText->setObjectName("TabSheetText");
  auto* textLayout = new QVBoxLayout(TabSheetText);
  RefStringGridText = TagGrid(TabSheetText, "RefStringGridText", {"Tag", "Text"});
  // Texts are shown whole: wrapped, each row as high as its text.
  RefStringGridText->setWordWrap(true);
  RefStringGridText->setTextElideMode(Qt::ElideNone);
  RefStringGridText->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  RefStringGridText->Loaded();
  textLayout->addWidget(RefStringGridText, 1);
  auto* btnHtml = new QPushButton("HTML editor...", TabSheetText);
  btnHtml->setObjectName("BtnEditText");
  textLayout->addWidget(btnHtml, 0, Qt::AlignLeft);
  connect(btnHtml, &QPushButton::clicked, this, [this] {
    int row = RefStringGridText->Row();
    if (row >= RefStringGridText->FixedRowCount()) EditTextCell(row);
  });
  connect(RefStringGridText, &QTableWidget::cellDoubleClicked, this, [this](int row, int col) {
    // The grid's rows and columns count the fixed ones; the text column is the last.
    if (col + RefStringGridText->FixedColCount() == 2) EditTextCell(row + RefStringGridText->FixedRowCount());
  });

  TabSheetMenu = new QWidget;
  TabSheetMenu->setObjectName("TabSheetMenu");
  auto* ml = new QVBoxLayout(TabSheetMenu);
  auto* titleRow = new QHBoxLayout;
  titleRow->addWidget(new QLabel("Menu title", TabSheetMenu));
  EditMenuTitle = new QLineEdit(TabSheetMenu);
  EditMenuTitle->setObjectName("EditMenuTitle");
  titleRow->addWidget(EditMenuTitle, 1);
  ml->addLayout(titleRow);
  RecTree1 = new TMenuTree(TabSheetMenu);
  RecTree1->setObjectName("RecTree1");
  RecTree1->setHeaderHidden(true);
  RecTree1->setContextMenuPolicy(Qt::CustomContextMenu);
  RecTree1->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked);
  ml->addWidget(RecTree1, 1);
  GroupBoxMenuObj = new QGroupBox("Reference", TabSheetMenu);
  GroupBoxMenuObj->setObjectName("GroupBoxMenuObj");
  auto* ol = new QVBoxLayout(GroupBoxMenuObj);
  RefEditMenuObj = new TRefEdit(GroupBoxMenuObj);
  RefEditMenuObj->setObjectName("RefEditMenuObj");
  ol->addWidget(RefEditMenuObj);
  ml->addWidget(GroupBoxMenuObj);
  for (const char* coll : {"WebPages", "Films", "Channels"}) {
    TCollectionData cd;
    db.SC(coll, "Tree", cd);
    RefEditMenuObj->AddCollData(cd);
  }
  RefEditMenuObj->SetTreeCaption("Select object");

  PopupMenuTree = new QMenu(RecTree1);
  MenuItemAddR = PopupMenuTree->addAction("Add menu item", this, [this] { MenuItemAddRClick(); });
  MenuItemAddF = PopupMenuTree->addAction("Add top Folder", this, [this] { MenuItemAddFClick(); });
  MenuItemAddSF = PopupMenuTree->addAction("Add Subfolder", this, [this] { MenuItemAddSFClick(); });
  MenuItemAddDel = PopupMenuTree->addAction("Delete", this, [this] { MenuItemAddDelClick(); });
  connect(RecTree1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopupMenuTree->popup(RecTree1->viewport()->mapToGlobal(p)); });
  connect(RecTree1, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem*, QTreeWidgetItem*) {
            if (!JFrame1->RecordToCompIsExecuting()) RecTree1Click();
          });
  connect(RecTree1, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    RecTree1->editItem(item);
  });
  connect(RefEditMenuObj, &TRefEdit::Changed, this, [this] { UpdateRecord(); });

  TabSheetRefs = new QWidget;
  TabSheetRefs->setObjectName("TabSheetRefs");
  auto* rl = new QVBoxLayout(TabSheetRefs);
  RefStringGridRef = TagGrid(TabSheetRefs, "RefStringGridRef", {"Tag", "Reference", "Caption"});
  RefStringGridRef->OnLoaded = [this](TRefStringGrid* g) { RefStringGridRefLoaded(g); };
  RefStringGridRef->Loaded();
  rl->addWidget(RefStringGridRef);

  TabSheetImgs = new QWidget;
  TabSheetImgs->setObjectName("TabSheetImgs");
  auto* il = new QVBoxLayout(TabSheetImgs);
  RefStringGridImg = TagGrid(TabSheetImgs, "RefStringGridImg", {"Tag", "Image file", "Caption"});
  RefStringGridImg->Loaded();
  il->addWidget(RefStringGridImg);

  PageControlTags->addTab(TabSheetText, "Text");
  PageControlTags->addTab(TabSheetMenu, "Menu");
  PageControlTags->addTab(TabSheetRefs, "References");
  PageControlTags->addTab(TabSheetImgs, "Images");

  // The menu item editor: one reference per item.
  FLayerCommon = std::make_unique<TLayerOfComps>(nullptr, stActive, std::function<void()>(), "Common");
  FLayerComps = FLayerCommon->AddLayer("Records");
  FLayerComps->AddComp("Refs", RefEditMenuObj);

  JFrame1->OnRecordToComp = [this](TJFrame*, TJson& rec, TRecordToCompType typ) {
    JFrame1RecordToComp(rec, typ);
  };
  JFrame1->OnCompToRecord = [this](TJFrame*, TJson& rec) { JFrame1CompToRecord(rec); };
  JFrame1->OnNewRecordAdded = [this](TJFrame*, bool) { JFrame1NewRecordAdded(); };
  JFrame1->OnChange = [this](TJFrame*) { JFrame1Change(); };
  JFrame1->OnSaveRecord = [this](TJFrame*, bool& can) {
    if (PageControlTags->isTabVisible(1) && !MenuLevelsAllowed(SaveTreeEntries(RecTree1))) {
      JFrame1->MsgDlg(MenuLevelsMessage, TMsgIcon::Error);
      can = false;
    }
  };
  connect(BtnReloadTemplate, &QPushButton::clicked, this, [this] { BtnReloadTemplateClick(); });
  connect(ButtonChoiseDir, &QPushButton::clicked, this, [this] { ButtonChoiseDirClick(); });

  JFrame1->LayerComps->AddComp("Menu", RecTree1);
  JFrame1->LayerComps->AddComp("Refs", RefStringGridRef);
  JFrame1->LayerComps->AddComp("Imgs", RefStringGridImg);
  JFrame1->LayerComps->AddComp("text", RefStringGridText);
  JFrame1->LayerComps->AddComp("Description", MemoDescr, vt_String);
  JFrame1->LayerComps->AddComp("MenuTitle", EditMenuTitle, vt_String);
  JFrame1->LayerComps->AddComp("HTMLfile", EditHtmlFileName, vt_String);
  ShowTabs(TWebPageTabs{});
  CompsDoVisible();
  LoadFrame();
}

TFormWebPage::~TFormWebPage() = default;

void TFormWebPage::RefStringGridRefLoaded(TRefStringGrid* grid) {
  auto* edit = new TRG_RefEdit(grid);
  edit->SetAfterCreate(2);
  for (const char* coll : {"WebPages", "Films", "Channels"}) {
    TCollectionData cd;
    Db().SC(coll, "Tree", cd);
    edit->AddCollData(cd);
  }
  edit->SetTreeCaption("Select object");
}

TWebPageTabs TFormWebPage::Tabs() const {
  TWebPageTabs t;
  t.Text = PageControlTags->isTabVisible(0);
  t.Menu = PageControlTags->isTabVisible(1);
  t.Refs = PageControlTags->isTabVisible(2);
  t.Imgs = PageControlTags->isTabVisible(3);
  t.SysTmplLabel = !LabelSysTmpl->isHidden();
  return t;
}

void TFormWebPage::ShowTabs(const TWebPageTabs& t) {
  PageControlTags->setTabVisible(0, t.Text);
  PageControlTags->setTabVisible(1, t.Menu);
  PageControlTags->setTabVisible(2, t.Refs);
  PageControlTags->setTabVisible(3, t.Imgs);
  LabelSysTmpl->setVisible(t.SysTmplLabel);
  RefEditSystemTemplate->setVisible(!t.SysTmplLabel);
  PageControlTags->setVisible(t.Text || t.Menu || t.Refs || t.Imgs);
}

std::string TFormWebPage::TemplatesRoot() {
  std::string root = GetOptionDir(Db(), odHTML);
  if (root.empty() || root.back() != '/') root += '/';
  return root;
}

void TFormWebPage::JFrame1RecordToComp(TJson& rec, TRecordToCompType typ) {
  // The tree is filled anew: the node the editor showed is gone.
  FLastTreeNode = nullptr;
  if (typ == rtcNew) {
    ShowTabs(TWebPageTabs{});
    RefEditSystemTemplate->SetRecordID(TrefID{});
    return;
  }
  ShowTabs(WebPageTabsOfRecord(rec));
  if (rec.is_object() && rec.contains("SysTmpl"))
    RefEditSystemTemplate->SetRecordID(JsonToTrefID(&rec["SysTmpl"]));
  else
    RefEditSystemTemplate->SetRecordID(TrefID{});
}

void TFormWebPage::JFrame1CompToRecord(TJson& rec) {
  EmptyCellsToNull(rec, "text", {1});
  EmptyCellsToNull(rec, "Imgs", {1, 2});
  EmptyCellsToNull(rec, "Refs", {2});
  ApplyWebPageSaveRules(rec, Tabs(), TrefIDToJson(RefEditSystemTemplate->RecordID()));
}

void TFormWebPage::JFrame1NewRecordAdded() {
  ShowTabs(TWebPageTabs{});
  FLastTreeNode = nullptr;
  CompsDoVisible();
}

void TFormWebPage::JFrame1Change() {
  FLastTreeNode = nullptr;
  RecTree1Click();
}

bool TFormWebPage::BtnReloadTemplateClick() {
  std::string path = WebPageTemplatePath(TemplatesRoot(), EditHtmlFileName->text().toStdString());
  std::optional<TJson> survey = FGen->CollectFields(FGen->Producer(), path);
  if (!survey) return false;
  UpdateRecord();
  TJson shown = JFrame1->CompToRecord(false);
  TWebPageTabs tabs;
  TJson rec = ApplyTemplateSurvey(shown, *survey, tabs);
  ShowTabs(tabs);
  FLastTreeNode = nullptr;
  JFrame1->RecordToComp(rec);
  RecTree1Click();
  return true;
}

bool TFormWebPage::TakeTemplateFile(const std::string& chosen) {
  std::string root = TemplatesRoot();
  std::string rel;
  if (!TemplateFileBelowRoot(root, chosen, rel)) {
    JFrame1->MsgDlg(TemplateOutsideRootMessage(chosen, root), TMsgIcon::Error,
                    windowTitle().toStdString());
    return false;
  }
  EditHtmlFileName->setText(Qs(rel));
  BtnReloadTemplateClick();
  return true;
}

void TFormWebPage::ButtonChoiseDirClick() {
  try {
    std::string root = TemplatesRoot();
    std::string current = WebPageTemplatePath(root, EditHtmlFileName->text().toStdString());
    std::error_code ec;
    std::string start;
    if (!EditHtmlFileName->text().isEmpty() && std::filesystem::is_regular_file(current, ec))
      start = std::filesystem::path(current).parent_path().string();
    else
      start = FLastDir.empty() ? root : FLastDir;
    std::string chosen;
    if (ChooseFile)
      chosen = ChooseFile(start);
    else
      chosen = QFileDialog::getOpenFileName(this, QString(), Qs(start), "*.html").toStdString();
    if (chosen.empty()) return;
    FLastDir = std::filesystem::path(chosen).parent_path().string();
    TakeTemplateFile(chosen);
  } catch (...) {
    // A failed choice leaves the page as it was.
  }
}

QTreeWidgetItem* TFormWebPage::SelectedMenuNode() const {
  QTreeWidgetItem* cur = RecTree1->currentItem();
  return cur && cur->isSelected() ? cur : nullptr;
}

void TFormWebPage::MenuItemAddRClick() {
  QTreeWidgetItem* sel = SelectedMenuNode();
  QTreeWidgetItem* parent = IsMenuFolder(sel) ? sel : (sel ? sel->parent() : nullptr);
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(RecTree1);
  node->setText(0, "New menu item");
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  SetTreeNodeData(node, TJson{{"Refs", TJson{{"_ID", ""}, {"_CL", ""}}}});
  if (parent) parent->setExpanded(true);
  RecTree1->setCurrentItem(node);
  node->setSelected(true);
  CompsDoVisible();
}

void TFormWebPage::MenuItemAddFClick() {
  auto* node = new QTreeWidgetItem(RecTree1);
  node->setText(0, "New folder");
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  SetTreeNodeData(node, TJson{{"IsFolder", true}});
  RecTree1->setCurrentItem(node);
  node->setSelected(true);
  CompsDoVisible();
}

void TFormWebPage::MenuItemAddSFClick() {
  QTreeWidgetItem* sel = SelectedMenuNode();
  QTreeWidgetItem* parent = IsMenuFolder(sel) ? sel : (sel ? sel->parent() : nullptr);
  // The generator accepts folders only at the top of a menu.
  if (parent) {
    JFrame1->MsgDlg(MenuLevelsMessage, TMsgIcon::Warning);
    return;
  }
  MenuItemAddFClick();
}

void TFormWebPage::MenuItemAddDelClick() {
  QTreeWidgetItem* sel = SelectedMenuNode();
  if (!sel) return;
  FLastTreeNode = nullptr;
  delete sel;
  CompsDoVisible();
}

void TFormWebPage::RecTree1Click() {
  if (FLastTreeNode) {
    TJson data = IsMenuFolder(FLastTreeNode) ? TJson{{"IsFolder", true}}
                                             : FLayerComps->GetCompInfo();
    SetTreeNodeData(FLastTreeNode, data);
  }
  QTreeWidgetItem* sel = SelectedMenuNode();
  if (!sel && RecTree1->topLevelItemCount() > 0) {
    sel = RecTree1->topLevelItem(0);
    QSignalBlocker block(RecTree1);
    RecTree1->setCurrentItem(sel);
    sel->setSelected(true);
  }
  FLoadingNode = true;
  FLayerComps->SetCompInfo(sel ? TreeNodeData(sel) : TJson::object());
  FLoadingNode = false;
  FLastTreeNode = sel;
  CompsDoVisible();
}

void TFormWebPage::UpdateRecord() {
  if (FLoadingNode) return;
  QTreeWidgetItem* sel = SelectedMenuNode();
  if (!sel || IsMenuFolder(sel)) return;
  SetTreeNodeData(sel, FLayerComps->GetCompInfo());
}

void TFormWebPage::CompsDoVisible() {
  QTreeWidgetItem* sel = SelectedMenuNode();
  GroupBoxMenuObj->setVisible(sel && !IsMenuFolder(sel));
}

bool TFormWebPage::EditTextCell(int row) {
  if (row < RefStringGridText->FixedRowCount() || row >= RefStringGridText->RowCount()) return false;
  std::string text = RefStringGridText->Cells(2, row).toStdString();
  std::optional<std::string> edited;
  if (EditHtml) {
    edited = EditHtml(text);
  } else {
    QDialog dlg(this);
    dlg.setWindowTitle("HTML editor - " + RefStringGridText->Cells(1, row));
    dlg.resize(760, 520);
    auto* layout = new QVBoxLayout(&dlg);
    auto* editor = new THTMLEdit(&dlg);
    editor->SetControlName("HTMLEdit1");
    // The page's template gives the preview its style sheets.
    editor->ParentHTMLFileName =
        WebPageTemplatePath(TemplatesRoot(), EditHtmlFileName->text().toStdString());
    layout->addWidget(editor, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    editor->SetText(text);
    if (dlg.exec() == QDialog::Accepted) {
      // OK pressed before the engine has shown the page: wait for it a little; a text read
      // before then would replace the cell with nothing.
      if (editor->State() != THTMLEdit::hsSource && !editor->WaitLoaded(10000)) {
        JFrame1->MsgDlg(HtmlEditorNotLoadedMessage, TMsgIcon::Warning);
        return false;
      }
      edited = editor->GetText();
    }
  }
  if (!edited || *edited == text) return false;
  RefStringGridText->SetCells(2, row, Qs(*edited));
  RefStringGridText->resizeRowToContents(row - RefStringGridText->FixedRowCount());
  return true;
}
