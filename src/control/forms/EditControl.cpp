#include "control/forms/EditControl.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "JFrame/FloatSpin.h"
#include "JFrame/RefEdit.h"
#include "JFrame/SharedWidgets.h"
#include "base/Operator.h"
#include "control/forms/ControlElements.h"
#include "control/forms/ControlPanel.h"
#include "schedule/ScheduleClasses.h"
#include "JFrame/QtText.h"

namespace {

TFloatSpinEdit* NumberEdit(QWidget* parent, const char* name, double min, double max) {
  auto* e = new TFloatSpinEdit(parent);
  e->setObjectName(name);
  e->SetPrecision(0);
  e->SetMinValue(min);
  e->SetMaxValue(max);
  e->SetIncrement(1);
  e->SetValue(min);
  return e;
}

TRefEdit* RefBox(QWidget* parent, TDbFile& db, const char* name, const std::string& collection,
                 const QString& caption) {
  auto* e = new TRefEdit(parent);
  e->setObjectName(name);
  TCollectionData cd;
  db.SC(collection, "Tree", cd);
  e->AddCollData(cd);
  e->SetTreeCaption(caption);
  e->SetEnableEmpty(true);
  return e;
}

const QList<QPair<QString, QColor>>& StandardColors() {
  static const QList<QPair<QString, QColor>> colors = {
      {"Black", QColor(0, 0, 0)},         {"Maroon", QColor(128, 0, 0)},
      {"Green", QColor(0, 128, 0)},       {"Olive", QColor(128, 128, 0)},
      {"Navy", QColor(0, 0, 128)},        {"Purple", QColor(128, 0, 128)},
      {"Teal", QColor(0, 128, 128)},      {"Gray", QColor(128, 128, 128)},
      {"Silver", QColor(192, 192, 192)},  {"Red", QColor(255, 0, 0)},
      {"Lime", QColor(0, 255, 0)},        {"Yellow", QColor(255, 255, 0)},
      {"Blue", QColor(0, 0, 255)},        {"Fuchsia", QColor(255, 0, 255)},
      {"Aqua", QColor(0, 255, 255)},      {"White", QColor(255, 255, 255)},
  };
  return colors;
}

// Selects the colour in the box, adding it as "Custom" when it is none of the listed ones.
void SelectColor(QComboBox* box, const QColor& c) {
  QSignalBlocker block(box);
  int i = box->findData(c);
  if (i < 0) {
    const int custom = box->findText("Custom");
    if (custom >= 0) box->removeItem(custom);
    box->addItem("Custom", c);
    i = box->count() - 1;
  }
  box->setCurrentIndex(i);
}

QString FontText(const TFontSpec& f) {
  QString style;
  if (f.Style & 1) style += " bold";
  if (f.Style & 2) style += " italic";
  if (f.Style & 4) style += " underline";
  if (f.Style & 8) style += " strike-out";
  return QString("%1, %2 pt%3").arg(Qs(f.Name)).arg(f.Size).arg(style);
}

}  // namespace

TFormEditControl::TFormEditControl(TFormControlPanel* Owner, QWidget* aElement, const TJson& aJson)
    : QWidget(Owner, Qt::Window), Element(aElement), FPanel(Owner) {
  setObjectName("FormEditControl");
  setWindowTitle("Edit element");
  setAttribute(Qt::WA_DeleteOnClose);
  TableRow = ElementTag(aElement);
  PanelID = Owner->id;
  TDbFile& db = Owner->Db;

  auto* main = new QVBoxLayout(this);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  main->addWidget(PageControl1, 1);

  // Basic
  TabSheetBasic = new QWidget;
  TabSheetBasic->setObjectName("TabSheetBasic");
  auto* basic = new QVBoxLayout(TabSheetBasic);
  auto* nameBox = new QGroupBox("Element name", TabSheetBasic);
  auto* nl = new QVBoxLayout(nameBox);
  MemoName = new QPlainTextEdit(nameBox);
  MemoName->setObjectName("MemoName");
  MemoName->setFixedHeight(52);
  nl->addWidget(MemoName);
  basic->addWidget(nameBox);
  auto* geo = new QGridLayout;
  SpinX = NumberEdit(TabSheetBasic, "SpinX", 0, 1920);
  SpinY = NumberEdit(TabSheetBasic, "SpinY", 0, 1080);
  SpinWidth = NumberEdit(TabSheetBasic, "SpinWidth", 10, 1920);
  SpinHeight = NumberEdit(TabSheetBasic, "SpinHeight", 10, 1080);
  geo->addWidget(new QLabel("X"), 0, 0);
  geo->addWidget(SpinX, 0, 1);
  geo->addWidget(new QLabel("Y"), 0, 2);
  geo->addWidget(SpinY, 0, 3);
  geo->addWidget(new QLabel("Width"), 1, 0);
  geo->addWidget(SpinWidth, 1, 1);
  geo->addWidget(new QLabel("Height"), 1, 2);
  geo->addWidget(SpinHeight, 1, 3);
  basic->addLayout(geo);
  GroupBoxServer = new QGroupBox("Server", TabSheetBasic);
  (new QVBoxLayout(GroupBoxServer))->addWidget(
      RefEditServer = RefBox(GroupBoxServer, db, "RefEditServer", "Servers", "Select server"));
  basic->addWidget(GroupBoxServer);
  GroupBoxGroup = new QGroupBox("Group", TabSheetBasic);
  (new QVBoxLayout(GroupBoxGroup))->addWidget(
      RefEditGroup = RefBox(GroupBoxGroup, db, "RefEditGroup", "Groups", "Select STB group"));
  basic->addWidget(GroupBoxGroup);
  GroupBoxCommands = new QGroupBox("Commands", TabSheetBasic);
  EditCommands = new TBtnEdit(GroupBoxCommands);
  EditCommands->setObjectName("EditCommands");
  EditCommands->setReadOnly(true);
  (new QVBoxLayout(GroupBoxCommands))->addWidget(EditCommands);
  basic->addWidget(GroupBoxCommands);
  basic->addStretch(1);
  PageControl1->addTab(TabSheetBasic, "Basic");

  // Color and Font: four slots each, shown as parts are registered.
  TabSheetColor = new QWidget;
  TabSheetColor->setObjectName("TabSheetColor");
  auto* cl = new QVBoxLayout(TabSheetColor);
  for (int i = 0; i < 4; ++i) {
    TColorSlot& s = Colors[static_cast<size_t>(i)];
    s.Row = new QWidget(TabSheetColor);
    auto* rl = new QHBoxLayout(s.Row);
    rl->setContentsMargins(0, 0, 0, 0);
    s.Caption = new QLabel(s.Row);
    s.Caption->setMinimumWidth(80);
    s.ColorBox = new QComboBox(s.Row);
    s.ColorBox->setObjectName(QString("ColorBox%1").arg(i + 1));
    for (const auto& [name, c] : StandardColors()) s.ColorBox->addItem(name, c);
    s.ColorBtn = new TColorBtn(s.Row);
    s.ColorBtn->setObjectName(QString("BtnColor%1").arg(i + 1));
    s.ColorBtn->setFixedSize(40, 24);
    s.ColorBtn->setEnabled(false);
    s.Btn = new QPushButton("...", s.Row);
    s.Btn->setObjectName(QString("BtnColorDlg%1").arg(i + 1));
    s.Btn->setFixedWidth(30);
    rl->addWidget(s.Caption);
    rl->addWidget(s.ColorBox, 1);
    rl->addWidget(s.ColorBtn);
    rl->addWidget(s.Btn);
    cl->addWidget(s.Row);
    s.Row->hide();
    connect(s.Btn, &QPushButton::clicked, this, [this, i] { BtnColorClick(i); });
    connect(s.ColorBox, &QComboBox::activated, this, [this, i] { ColorBoxChange(i); });
  }
  cl->addStretch(1);
  PageControl1->addTab(TabSheetColor, "Color");

  TabSheetFont = new QWidget;
  TabSheetFont->setObjectName("TabSheetFont");
  auto* fl = new QVBoxLayout(TabSheetFont);
  for (int i = 0; i < 4; ++i) {
    TFontSlot& s = fonts[static_cast<size_t>(i)];
    s.Row = new QWidget(TabSheetFont);
    auto* rl = new QHBoxLayout(s.Row);
    rl->setContentsMargins(0, 0, 0, 0);
    s.Caption = new QLabel(s.Row);
    s.Caption->setMinimumWidth(80);
    s.Sample = new QLabel(s.Row);
    s.Sample->setObjectName(QString("FontSample%1").arg(i + 1));
    s.Btn = new QPushButton("...", s.Row);
    s.Btn->setObjectName(QString("BtnFont%1").arg(i + 1));
    s.Btn->setFixedWidth(30);
    // The font dialog has no colour: the text colour is chosen beside it.
    s.ColorBox = new QComboBox(s.Row);
    s.ColorBox->setObjectName(QString("FontColorBox%1").arg(i + 1));
    s.ColorBox->setToolTip("Text colour");
    for (const auto& [name, c] : StandardColors()) s.ColorBox->addItem(name, c);
    s.ColorBtn = new TColorBtn(s.Row);
    s.ColorBtn->setObjectName(QString("BtnFontColor%1").arg(i + 1));
    s.ColorBtn->setFixedSize(40, 24);
    s.ColorBtn->setEnabled(false);
    s.ColorDlgBtn = new QPushButton("...", s.Row);
    s.ColorDlgBtn->setObjectName(QString("BtnFontColorDlg%1").arg(i + 1));
    s.ColorDlgBtn->setFixedWidth(30);
    s.ColorDlgBtn->setToolTip("Text colour");
    rl->addWidget(s.Caption);
    rl->addWidget(s.Sample, 1);
    rl->addWidget(s.Btn);
    rl->addWidget(s.ColorBox);
    rl->addWidget(s.ColorBtn);
    rl->addWidget(s.ColorDlgBtn);
    fl->addWidget(s.Row);
    s.Row->hide();
    connect(s.Btn, &QPushButton::clicked, this, [this, i] { BtnFontClick(i); });
    connect(s.ColorBox, &QComboBox::activated, this, [this, i] { FontColorBoxChange(i); });
    connect(s.ColorDlgBtn, &QPushButton::clicked, this, [this, i] { BtnFontColorClick(i); });
  }
  fl->addStretch(1);
  PageControl1->addTab(TabSheetFont, "Font");

  TabSheetPlayer = new QWidget;
  TabSheetPlayer->setObjectName("TabSheetPlayer");
  auto* pl = new QVBoxLayout(TabSheetPlayer);
  GroupBoxChannel = new QGroupBox("Channel", TabSheetPlayer);
  (new QVBoxLayout(GroupBoxChannel))->addWidget(
      RefEditChannel = RefBox(GroupBoxChannel, db, "RefEditChannel", "Channels", "Select channel"));
  pl->addWidget(GroupBoxChannel);
  CheckBoxMute = new QCheckBox("Mute", TabSheetPlayer);
  CheckBoxMute->setObjectName("CheckBoxMute");
  pl->addWidget(CheckBoxMute);
  pl->addStretch(1);
  PageControl1->addTab(TabSheetPlayer, "Player");

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  BitBtnApply = new QPushButton("Apply", this);
  BitBtnApply->setObjectName("BitBtnApply");
  BitBtnSave = new QPushButton("Save", this);
  BitBtnSave->setObjectName("BitBtnSave");
  BitBtnCancel = new QPushButton("Cancel", this);
  BitBtnCancel->setObjectName("BitBtnCancel");
  buttons->addWidget(BitBtnApply);
  buttons->addWidget(BitBtnSave);
  buttons->addWidget(BitBtnCancel);
  main->addLayout(buttons);
  connect(BitBtnApply, &QPushButton::clicked, this, [this] { BitBtnApplyClick(); });
  connect(BitBtnSave, &QPushButton::clicked, this, [this] { BitBtnSaveClick(); });
  connect(BitBtnCancel, &QPushButton::clicked, this, [this] { BitBtnCancelClick(); });
  connect(EditCommands, &TCustomBtnEdit::BtnClick, this, [this] { EditCommandsBtnClick(); });

  // 1. The element and its kind.
  oldvalue = aJson.is_object() ? aJson : TJson::object();
  ElemType = static_cast<int>(JsonInt(oldvalue, "Type"));
  // 2. Name, the element's parts.
  LayerCommon = std::make_unique<TLayerOfComps>(nullptr, stNew, nullptr, "Common");
  LayerComps = LayerCommon->AddLayer("Records");
  LayerComps->AddComp("Name", MemoName, vt_String);
  if (IDockedElement* el = AsElement(aElement)) el->FillEditForm(this);
  if (ColorCount == 0) PageControl1->removeTab(PageControl1->indexOf(TabSheetColor));
  if (fontCount == 0) PageControl1->removeTab(PageControl1->indexOf(TabSheetFont));
  // 3. Player, references, position and size.
  if (BoxVisible(boxChannel)) {
    LayerComps->AddComp("Channel", RefEditChannel);
    LayerComps->AddComp("Mute", CheckBoxMute, vt_None);
  } else {
    PageControl1->removeTab(PageControl1->indexOf(TabSheetPlayer));
  }
  if (BoxVisible(boxGroup)) LayerComps->AddComp("Group", RefEditGroup);
  if (BoxVisible(boxServer)) LayerComps->AddComp("Server", RefEditServer);
  LayerComps->AddComp("PosX", SpinX, vt_Integer);
  LayerComps->AddComp("PosY", SpinY, vt_Integer);
  LayerComps->AddComp("Width", SpinWidth, vt_Integer);
  LayerComps->AddComp("Height", SpinHeight, vt_Integer);
  // 4. Commands.
  if (BoxVisible(boxCommands)) {
    auto it = oldvalue.find("Cmds");
    commands = it != oldvalue.end() && it->is_array() ? *it : TJson::array();
  }
  // 5. The element's present place, the controls, the first apply.
  SetElementRect(oldvalue, {aElement->x(), aElement->y(), aElement->width(), aElement->height()});
  LayerComps->SetCompInfoReporting(oldvalue);
  ShowCommandsText();
  StartValue = oldvalue;
  // The start value carries the parts as registered, so "Cancel" restores them.
  StartValue = BuildElement();
  BitBtnApplyClick();
  PageControl1->setCurrentIndex(0);
  resize(420, 460);
}

TFormEditControl::~TFormEditControl() { FPanel->FreeEditForm(this); }

void TFormEditControl::AddColor(const std::string& caption, const QColor& color) {
  if (ColorCount >= 4) return;
  TColorSlot& s = Colors[static_cast<size_t>(ColorCount++)];
  s.Caption->setText(Qs(caption));
  s.Value = color;
  s.ColorBtn->SetButtonColor(color);
  SelectColor(s.ColorBox, color);
  s.Row->show();
}

void TFormEditControl::AddFont(const std::string& caption, const TFontSpec& font) {
  if (fontCount >= 4) return;
  TFontSlot& s = fonts[static_cast<size_t>(fontCount++)];
  s.Caption->setText(Qs(caption));
  s.Value = font;
  ShowFont(s);
  s.Row->show();
}

void TFormEditControl::HideBoxes(unsigned boxes) {
  FHidden |= boxes;
  GroupBoxChannel->setVisible(!(FHidden & boxChannel));
  GroupBoxGroup->setVisible(!(FHidden & boxGroup));
  GroupBoxCommands->setVisible(!(FHidden & boxCommands));
  GroupBoxServer->setVisible(!(FHidden & boxServer));
}

bool TFormEditControl::BoxVisible(unsigned box) const { return !(FHidden & box); }

TJson TFormEditControl::BuildElement() {
  TJson v = LayerComps->GetCompInfo();
  v["Type"] = ElemType;
  if (ColorCount > 0) {
    TJson c = TJson::array();
    for (int i = 0; i < ColorCount; ++i) c.push_back(ValueOfColor(Colors[static_cast<size_t>(i)].Value));
    v["Colors"] = c;
  } else {
    v.erase("Colors");
  }
  if (fontCount > 0) {
    TJson f = TJson::array();
    for (int i = 0; i < fontCount; ++i) f.push_back(FontToJson(fonts[static_cast<size_t>(i)].Value));
    v["Fonts"] = f;
  } else {
    v.erase("Fonts");
  }
  if (BoxVisible(boxCommands)) v["Cmds"] = commands;
  return v;
}

void TFormEditControl::ShowGeometry(const TElemRect& r) {
  SpinX->SetValue(r.Left);
  SpinY->SetValue(r.Top);
  SpinWidth->SetValue(r.Width);
  SpinHeight->SetValue(r.Height);
}

void TFormEditControl::BitBtnApplyClick() {
  TJson v = BuildElement();
  oldvalue = v;
  if (IDockedElement* el = AsElement(Element)) {
    el->BeforeApply(this, v);
    el->SetJson(v);
    FPanel->UpdateElement1(Element);
    FPanel->UpdateTabOrders();
  }
}

void TFormEditControl::BitBtnSaveClick() {
  BitBtnApplyClick();
  close();
}

void TFormEditControl::LoadParts(const TJson& value) {
  auto colors = value.find("Colors");
  for (int i = 0; i < ColorCount; ++i) {
    if (colors == value.end() || !colors->is_array() || static_cast<size_t>(i) >= colors->size()) break;
    TColorSlot& s = Colors[static_cast<size_t>(i)];
    s.Value = ColorOfValue(static_cast<int64_t>((*colors)[static_cast<size_t>(i)].get<double>()));
    s.ColorBtn->SetButtonColor(s.Value);
    SelectColor(s.ColorBox, s.Value);
  }
  auto f = value.find("Fonts");
  for (int i = 0; i < fontCount; ++i) {
    if (f == value.end() || !f->is_array() || static_cast<size_t>(i) >= f->size()) break;
    TFontSlot& s = fonts[static_cast<size_t>(i)];
    s.Value = FontFromJson((*f)[static_cast<size_t>(i)], s.Value);
    ShowFont(s);
  }
  if (BoxVisible(boxCommands)) {
    auto c = value.find("Cmds");
    commands = c != value.end() && c->is_array() ? *c : TJson::array();
    ShowCommandsText();
  }
}

void TFormEditControl::BitBtnCancelClick() {
  LayerComps->SetCompInfoReporting(StartValue);
  LoadParts(StartValue);
  BitBtnApplyClick();
  close();
}

void TFormEditControl::BtnColorClick(int slot) {
  TColorSlot& s = Colors[static_cast<size_t>(slot)];
  const QColor c = ChooseColor(s.Value);
  if (!c.isValid()) return;
  s.Value = c;
  s.ColorBtn->SetButtonColor(c);
  SelectColor(s.ColorBox, c);
}

QColor TFormEditControl::ChooseColor(const QColor& initial) {
  // The panel's custom colours go into the dialog and come back from it.
  for (int i = 0; i < QColorDialog::customCount(); ++i) QColorDialog::setCustomColor(i, Qt::white);
  std::vector<std::string> lines;
  for (const QString& l : FPanel->CustomColors) lines.push_back(l.toStdString());
  const TJson cust = LinesToCustColors(lines);
  for (size_t i = 0; i < cust.size() && static_cast<int>(i) < QColorDialog::customCount(); ++i)
    QColorDialog::setCustomColor(static_cast<int>(i), ColorOfValue(cust[i].get<int64_t>()));
  const QColor c = QColorDialog::getColor(initial, this, "Color");
  if (!c.isValid()) return c;
  TJson back = TJson::array();
  for (int i = 0; i < QColorDialog::customCount(); ++i) back.push_back(ValueOfColor(QColorDialog::customColor(i)));
  FPanel->CustomColors.clear();
  for (const std::string& l : CustColorsToLines(back)) FPanel->CustomColors << Qs(l);
  return c;
}

void TFormEditControl::ColorBoxChange(int slot) {
  TColorSlot& s = Colors[static_cast<size_t>(slot)];
  const QColor c = s.ColorBox->currentData().value<QColor>();
  if (!c.isValid()) return;
  s.Value = c;
  s.ColorBtn->SetButtonColor(c);
}

void TFormEditControl::BtnFontClick(int slot) {
  TFontSlot& s = fonts[static_cast<size_t>(slot)];
  bool ok = false;
  const QFont f = QFontDialog::getFont(&ok, FontOfSpec(s.Value), this, "Font");
  if (!ok) return;
  TFontSpec font = SpecOfFont(f, ColorOfValue(s.Value.Color));
  font.Charset = s.Value.Charset;
  s.Value = font;
  ShowFont(s);
}

void TFormEditControl::ShowFont(TFontSlot& s) {
  const QColor c = ColorOfValue(s.Value.Color);
  s.Sample->setText(FontText(s.Value));
  QPalette pal = s.Sample->palette();
  pal.setColor(QPalette::WindowText, c);
  s.Sample->setPalette(pal);
  s.ColorBtn->SetButtonColor(c);
  SelectColor(s.ColorBox, c);
}

void TFormEditControl::FontColorBoxChange(int slot) {
  TFontSlot& s = fonts[static_cast<size_t>(slot)];
  const QColor c = s.ColorBox->currentData().value<QColor>();
  if (!c.isValid()) return;
  s.Value.Color = ValueOfColor(c);
  ShowFont(s);
}

void TFormEditControl::BtnFontColorClick(int slot) {
  TFontSlot& s = fonts[static_cast<size_t>(slot)];
  const QColor c = ChooseColor(ColorOfValue(s.Value.Color));
  if (!c.isValid()) return;
  s.Value.Color = ValueOfColor(c);
  ShowFont(s);
}

void TFormEditControl::EditCommandsBtnClick() {
  const TCommandListEditor& editor = CommandListEditor();
  if (!editor) {
    AppOperator().MessageBox(windowTitle().toStdString(), "The command editor is not part of this console",
                             TMsgIcon::Information);
    return;
  }
  TJson list = commands;
  if (editor(this, list, ElemType, &FPanel->Db)) {
    commands = list;
    ShowCommandsText();
  }
}

void TFormEditControl::ShowCommandsText() {
  std::string text;
  try {
    text = CmdListText(FPanel->Db, commands);
  } catch (...) {
  }
  EditCommands->setText(Qs(text));
}

bool TFormEditControl::FormCloseQuery() {
  if (JsonEqual(BuildElement(), oldvalue)) return true;
  const std::string name = MemoName->toPlainText().replace('\n', ' ').toStdString();
  switch (AppOperator().Ask(FPanel->Caption(), "Element \"" + name + "\" was changed! Save changes?",
                            TMsgIcon::Question, TMsgButtons::YesNoCancel, TMsgAnswer::Cancel)) {
    case TMsgAnswer::Yes:
      BitBtnApplyClick();
      return true;
    case TMsgAnswer::No:
      return true;
    default:
      return false;
  }
}

void TFormEditControl::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  e->accept();
}
