#include "schedule/forms/ChShCommands.h"

#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "JFrame/FloatSpin.h"
#include "JFrame/RefEdit.h"
#include "JFrame/RefStringGrid.h"
#include "JFrame/SharedWidgets.h"
#include "shell/Databases.h"
#include "shell/Options.h"
#include "JFrame/QtText.h"

namespace {

// Control panels edit their elements' command lists with this dialog.
const bool commandEditorLent = [] {
  SetCommandListEditor([](QWidget* parent, TJson& list, int elemType, TDbFile* db) {
    return TFormChShCommands::EditCommands(parent, list, static_cast<TElementType>(elemType), db);
  });
  return true;
}();

std::string Std(const QString& s) { return s.toStdString(); }

constexpr int CmdRole = Qt::UserRole;        // the node's command object as compact JSON text
constexpr int TableRowRole = Qt::UserRole + 1;  // the command-table row of an available command

TDbFile& DefaultDb(TDbFile* db) {
  if (db) return *db;
  TDbFile* main = DbF1();
  if (!main) throw std::logic_error("TFormChShCommands: no database");
  return *main;
}

QGroupBox* OptionBox(QWidget* parent, const QString& caption, QWidget* editor) {
  auto* box = new QGroupBox(caption, parent);
  auto* l = new QVBoxLayout(box);
  l->setContentsMargins(6, 4, 6, 6);
  l->addWidget(editor);
  return box;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TCmdTreeWidget::TCmdTreeWidget(TFormChShCommands* form, QWidget* parent)
    : QTreeWidget(parent), FForm(form) {
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::InternalMove);
}

void TCmdTreeWidget::dropEvent(QDropEvent* e) {
  // The list is reordered by the dialog's own rule, not by the view's.
  QTreeWidgetItem* target = itemAt(e->position().toPoint());
  e->setDropAction(Qt::IgnoreAction);
  e->accept();
  FForm->TreeViewCmdDragDrop(target);
}

// ---------------------------------------------------------------------------------------------

TFormChShCommands::TFormChShCommands(QWidget* Owner, const TJson& aJson, TElementType ElemType,
                                     TDbFile* Db)
    : QDialog(Owner), FElemType(ElemType), Json(aJson), FDb(DefaultDb(Db)) {
  FOwnerEditor = dynamic_cast<TRG_BtnEdit*>(Owner);
  setObjectName("FormChShCommands");
  setWindowTitle("Select commands");
  setProperty("HelpContext", 24);
  setModal(true);
  resize(760, 460);

  auto* main = new QVBoxLayout(this);
  auto* top = new QHBoxLayout();
  main->addLayout(top, 1);

  auto* left = new QVBoxLayout();
  left->addWidget(new QLabel("Available commands:", this));
  TreeViewExistingCmd = new QTreeWidget(this);
  TreeViewExistingCmd->setObjectName("TreeViewExistingCmd");
  TreeViewExistingCmd->setHeaderHidden(true);
  TreeViewExistingCmd->setEditTriggers(QAbstractItemView::NoEditTriggers);
  left->addWidget(TreeViewExistingCmd, 1);
  top->addLayout(left, 1);

  auto* mid = new QVBoxLayout();
  mid->addStretch(1);
  ButtonAdd = new QPushButton(">>", this);
  ButtonAdd->setObjectName("ButtonAdd");
  ButtonRemove = new QPushButton("<<", this);
  ButtonRemove->setObjectName("ButtonRemove");
  for (QPushButton* b : {ButtonAdd, ButtonRemove}) {
    b->setAutoDefault(false);
    b->setFixedWidth(44);
    mid->addWidget(b);
  }
  mid->addStretch(1);
  top->addLayout(mid);

  auto* right = new QVBoxLayout();
  right->addWidget(new QLabel("Selected commands:", this));
  TreeViewCmd = new TCmdTreeWidget(this, this);
  TreeViewCmd->setObjectName("TreeViewCmd");
  TreeViewCmd->setHeaderHidden(true);
  TreeViewCmd->setRootIsDecorated(false);
  TreeViewCmd->setEditTriggers(QAbstractItemView::NoEditTriggers);
  right->addWidget(TreeViewCmd, 1);
  top->addLayout(right, 1);

  GroupBoxOptions = new QGroupBox("Command's options", this);
  GroupBoxOptions->setObjectName("GroupBoxOptions");
  auto* opts = new QVBoxLayout(GroupBoxOptions);
  FloatSpinEditDelay = new TFloatSpinEdit(GroupBoxOptions);
  FloatSpinEditDelay->setObjectName("FloatSpinEditDelay");
  FloatSpinEditDelay->SetMinValue(-99.9);
  FloatSpinEditDelay->SetMaxValue(99.9);
  FloatSpinEditDelay->SetIncrement(0.1);
  FloatSpinEditDelay->SetPrecision(-1);  // tenths of a second
  GroupBoxDelay = OptionBox(GroupBoxOptions, "Delay, sec", FloatSpinEditDelay);
  RefEdit1 = new TRefEdit(GroupBoxOptions);
  RefEdit1->setObjectName("RefEdit1");
  {
    TCollectionData cd;
    FDb.SC("Channels", "Tree", cd);
    RefEdit1->AddCollData(cd);
    RefEdit1->SetTreeCaption("Select channel");
  }
  GroupBoxChannel = OptionBox(GroupBoxOptions, "Channel", RefEdit1);
  DateTimeEditSTime = new TDateTimeEdit(GroupBoxOptions);
  DateTimeEditSTime->setObjectName("DateTimeEditSTime");
  DateTimeEditSTime->SetFormat("q hh:nn:ss");
  DateTimeEditSTime->SetButtonVisible(false);
  DateTimeEditSTime->SetValueAsText("0 00:00:00");
  GroupBoxSTime = OptionBox(GroupBoxOptions, "Start time", DateTimeEditSTime);
  EditCust1 = new TBtnEdit(GroupBoxOptions);
  EditCust1->setObjectName("EditCust1");
  GroupBoxCust1 = OptionBox(GroupBoxOptions, "Web page", EditCust1);
  EditCust2 = new TBtnEdit(GroupBoxOptions);
  EditCust2->setObjectName("EditCust2");
  EditCust2->SetButtonVisible(false);
  GroupBoxCust2 = OptionBox(GroupBoxOptions, "HTML-element", EditCust2);
  Memo1 = new QPlainTextEdit(GroupBoxOptions);
  Memo1->setObjectName("Memo1");
  Memo1->setMaximumHeight(70);
  GroupBoxText = OptionBox(GroupBoxOptions, "Text", Memo1);
  for (QGroupBox* b : {GroupBoxDelay, GroupBoxChannel, GroupBoxSTime, GroupBoxCust1,
                       GroupBoxCust2, GroupBoxText})
    opts->addWidget(b);
  opts->addStretch(1);
  GroupBoxOptions->setMinimumWidth(230);
  top->addWidget(GroupBoxOptions);

  auto* bottom = new QHBoxLayout();
  bottom->addStretch(1);
  ButtonSave = new QPushButton("Save", this);
  ButtonSave->setObjectName("ButtonSave");
  ButtonCancel = new QPushButton("Cancel", this);
  ButtonCancel->setObjectName("ButtonCancel");
  ButtonSave->setAutoDefault(false);
  ButtonCancel->setAutoDefault(false);
  bottom->addWidget(ButtonSave);
  bottom->addWidget(ButtonCancel);
  main->addLayout(bottom);

  connect(ButtonAdd, &QPushButton::clicked, this, [this] { ButtonAddClick(); });
  connect(ButtonRemove, &QPushButton::clicked, this, [this] { ButtonRemoveClick(); });
  connect(ButtonSave, &QPushButton::clicked, this, [this] { ButtonSaveClick(); });
  connect(ButtonCancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(TreeViewExistingCmd, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* it) {
    if (it && it->data(0, TableRowRole).isValid()) ButtonAddClick();
  });
  connect(TreeViewCmd, &QTreeWidget::itemDoubleClicked, this, [this] { ButtonRemoveClick(); });
  connect(TreeViewCmd, &QTreeWidget::currentItemChanged, this, [this] { TreeViewCmdSelected(); });

  connect(FloatSpinEditDelay, &QLineEdit::textChanged, this, [this] {
    if (!FUpdating) WriteOption("Delay", FloatSpinEditDelay->Value());
  });
  connect(RefEdit1, &TRefEdit::Changed, this, [this] {
    if (!FUpdating) WriteOption("Value", RefEdit1->RecordID()._ID);
  });
  connect(DateTimeEditSTime, &TDateTimeEdit::Changed, this, [this] {
    if (!FUpdating) WriteOption("Time", Std(DateTimeEditSTime->ValueAsText()));
  });
  connect(EditCust1, &QLineEdit::textChanged, this, [this] {
    if (FUpdating) return;
    const TcmdTableRow& row = FindCmdTableRow(NodeCommand(TreeViewCmd->currentItem()));
    WriteOption(CmdOptionView(row).Cust1Key, Std(EditCust1->text()));
  });
  connect(EditCust1, &TCustomBtnEdit::BtnClick, this, [this] { EditCust1BtnClick(); });
  connect(EditCust2, &QLineEdit::textChanged, this, [this] {
    if (FUpdating) return;
    const TcmdTableRow& row = FindCmdTableRow(NodeCommand(TreeViewCmd->currentItem()));
    WriteOption(CmdOptionView(row).Cust2Key, Std(EditCust2->text()));
  });
  connect(Memo1, &QPlainTextEdit::textChanged, this, [this] {
    if (!FUpdating) WriteOption("Text", Std(Memo1->toPlainText()));
  });

  FormCreate();
  FormActivate();
}

bool TFormChShCommands::EditCommands(QWidget* parent, TJson& List, TElementType ElemType,
                                     TDbFile* Db) {
  TFormChShCommands dlg(parent, List, ElemType, Db);
  bool saved = false;
  dlg.fonCmdsValueSaved = [&](QObject*, const TJson& list) {
    List = list;
    saved = true;
  };
  dlg.exec();
  return saved;
}

void TFormChShCommands::FormCreate() {
  TreeViewExistingCmd->clear();
  QTreeWidgetItem* heading = nullptr;
  for (size_t i = 0; i < cmdTable.size(); ++i) {
    const TcmdTableRow& row = cmdTable[i];
    if (row.text.empty() || !row.elem.Contains(FElemType)) continue;
    if (row.opt == 0) {
      heading = new QTreeWidgetItem(TreeViewExistingCmd, QStringList(Qs(std::string(row.text))));
      continue;
    }
    auto* node = heading ? new QTreeWidgetItem(heading) : new QTreeWidgetItem(TreeViewExistingCmd);
    node->setText(0, Qs(std::string(row.text)));
    node->setData(0, TableRowRole, static_cast<int>(i));
    SetNodeCommand(node, DefaultCmdObject(row));
  }
  TreeViewExistingCmd->expandAll();
}

void TFormChShCommands::FormActivate() {
  TJson list;
  if (FOwnerEditor) {
    list = FOwnerEditor->Json();
    if (!list.is_array()) {
      // An empty cell holds an empty list from now on, whatever the operator does next.
      list = TJson::array();
      FOwnerEditor->SetJson(list);
    }
  } else {
    list = Json.is_array() ? Json : TJson::array();
  }
  TreeViewCmd->clear();
  for (const TJson& cmd : list) AddSelectedNode(cmd);
  if (TreeViewCmd->topLevelItemCount() > 0) TreeViewCmd->setCurrentItem(TreeViewCmd->topLevelItem(0));
  UpdateControls();
}

TJson TFormChShCommands::NodeCommand(const QTreeWidgetItem* node) {
  if (!node) return nullptr;
  QVariant v = node->data(0, CmdRole);
  if (!v.isValid()) return nullptr;
  return TJson::parse(Std(v.toString()), nullptr, false);
}

void TFormChShCommands::SetNodeCommand(QTreeWidgetItem* node, const TJson& cmd) {
  if (cmd.is_null()) return;
  node->setData(0, CmdRole, Qs(cmd.dump()));
}

QTreeWidgetItem* TFormChShCommands::AddSelectedNode(const TJson& cmd, int index) {
  auto* node = new QTreeWidgetItem();
  node->setFlags((node->flags() | Qt::ItemIsDragEnabled) & ~Qt::ItemIsDropEnabled);
  SetNodeCommand(node, cmd);
  node->setText(0, Qs(CmdNodeText(FDb, cmd)));
  if (index < 0 || index > TreeViewCmd->topLevelItemCount())
    TreeViewCmd->addTopLevelItem(node);
  else
    TreeViewCmd->insertTopLevelItem(index, node);
  return node;
}

void TFormChShCommands::ButtonAddClick() {
  QTreeWidgetItem* src = TreeViewExistingCmd->currentItem();
  TJson cmd = NodeCommand(src);
  if (cmd.is_null()) return;
  // The time the editor shows ("0 00:00:00") is the command's until it is changed.
  CompleteCmdParams(cmd);
  QTreeWidgetItem* node = AddSelectedNode(cmd);
  TreeViewCmd->setCurrentItem(node);
  UpdateControls();
}

void TFormChShCommands::ButtonRemoveClick() {
  QTreeWidgetItem* node = TreeViewCmd->currentItem();
  if (!node) return;
  delete TreeViewCmd->takeTopLevelItem(TreeViewCmd->indexOfTopLevelItem(node));
  PrevTreeViewSelected = nullptr;
  UpdateControls();
}

void TFormChShCommands::TreeViewCmdDragDrop(QTreeWidgetItem* target) {
  QTreeWidgetItem* src = TreeViewCmd->currentItem();
  if (!src || !target || src == target) return;
  int from = TreeViewCmd->indexOfTopLevelItem(src);
  int to = TreeViewCmd->indexOfTopLevelItem(target);
  if (from < 0 || to < 0) return;
  QTreeWidgetItem* node = TreeViewCmd->takeTopLevelItem(from);
  if (to == from + 1) {
    // Onto the next one: the two change places.
    TreeViewCmd->insertTopLevelItem(from + 1, node);
  } else {
    int at = TreeViewCmd->indexOfTopLevelItem(target);
    TreeViewCmd->insertTopLevelItem(at, node);
  }
  TreeViewCmd->setCurrentItem(node);
}

TJson TFormChShCommands::SelectedList() const {
  TJson list = TJson::array();
  for (int i = 0; i < TreeViewCmd->topLevelItemCount(); ++i) {
    TJson cmd = NodeCommand(TreeViewCmd->topLevelItem(i));
    if (cmd.is_discarded() || cmd.is_null()) continue;
    // A command of an older list without "Time" is saved with the time the editor showed.
    CompleteCmdParams(cmd);
    list.push_back(std::move(cmd));
  }
  return list;
}

void TFormChShCommands::ButtonSaveClick() {
  TJson list = SelectedList();
  FSaved = true;
  if (FOwnerEditor) FOwnerEditor->SetJson(list);
  if (fonCmdsValueSaved) fonCmdsValueSaved(this, TJson(list));
  accept();
}

void TFormChShCommands::WriteOption(const std::string& key, const TJson& value) {
  QTreeWidgetItem* node = TreeViewCmd->currentItem();
  TJson cmd = NodeCommand(node);
  if (!cmd.is_object() || cmd.size() != 1 || !cmd.begin().value().is_object()) return;
  cmd.begin().value()[key] = value;
  SetNodeCommand(node, cmd);
  node->setText(0, Qs(CmdNodeText(FDb, cmd)));
}

void TFormChShCommands::TreeViewCmdSelected() {
  if (FUpdating) return;
  UpdateControls();
}

void TFormChShCommands::UpdateControls() {
  QTreeWidgetItem* node = TreeViewCmd->currentItem();
  PrevTreeViewSelected = node;
  TJson cmd = NodeCommand(node);
  const TcmdTableRow& row = FindCmdTableRow(cmd);
  TCmdOptionView v = CmdOptionView(row);
  FUpdating = true;
  GroupBoxDelay->setVisible(v.Delay);
  GroupBoxChannel->setVisible(v.Channel);
  GroupBoxSTime->setVisible(v.Time);
  GroupBoxSTime->setTitle(Qs(v.TimeCaption));
  GroupBoxCust1->setVisible(v.Cust1);
  GroupBoxCust1->setTitle(Qs(v.Cust1Caption));
  EditCust1->SetButtonVisible(row.Has(opt_WebPage));
  GroupBoxCust2->setVisible(v.Cust2);
  GroupBoxCust2->setTitle(Qs(v.Cust2Caption));
  GroupBoxText->setVisible(v.Text);
  const TJson p = cmd.is_object() && cmd.size() == 1 && cmd.begin().value().is_object()
                      ? cmd.begin().value()
                      : TJson::object();
  auto text = [&p](const std::string& key) -> QString {
    auto it = p.find(key);
    if (it == p.end() || it->is_null()) return QString();
    return Qs(it->is_string() ? it->get<std::string>() : it->dump());
  };
  auto d = p.find("Delay");
  FloatSpinEditDelay->SetValue(d != p.end() && d->is_number() ? d->get<double>() : 0.0);
  RefEdit1->SetRecordID(TrefID{JsonStr(p, "Value"), "Channels"});
  QString t = text("Time");
  DateTimeEditSTime->SetValueAsText(t.isEmpty() ? Qs(DefaultCmdTimeText) : t);
  // The web page in the one form it is stored and sent in (older records may hold it quoted).
  EditCust1->setText(v.Cust1Key == "WPage" ? Qs(CmdWebPageText(p)) : text(v.Cust1Key));
  EditCust2->setText(text(v.Cust2Key));
  Memo1->setPlainText(text("Text"));
  FUpdating = false;
}

void TFormChShCommands::EditCust1BtnClick() {
  const TcmdTableRow& row = FindCmdTableRow(NodeCommand(TreeViewCmd->currentItem()));
  if (!row.Has(opt_WebPage)) return;
  std::string root = GetOptionDir(FDb, odHTML);
  QString file = QFileDialog::getOpenFileName(this, windowTitle(), Qs(root), "HTML-files (*.html)");
  if (file.isEmpty()) return;
  std::string chosen = Std(file);
  std::string rootSlash = root;
  if (!rootSlash.empty() && rootSlash.back() != '/') rootSlash += '/';
  if (chosen.rfind(rootSlash, 0) != 0) {
    AppOperator().MessageBox(
        Std(windowTitle()),
        "File " + chosen + " placed not in HTML root derectory " + root + " or in it subdirectories!",
        TMsgIcon::Error);
    return;
  }
  EditCust1->setText(Qs(ToStoredPath(chosen.substr(rootSlash.size()))));
}
