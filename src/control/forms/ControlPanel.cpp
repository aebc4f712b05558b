#include "control/forms/ControlPanel.h"
#include "JFrame/WriteGuard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "base/Operator.h"
#include "control/forms/ControlElements.h"
#include "control/forms/EditControl.h"
#include "servers/PostAndGet.h"
#include "servers/Servers.h"
#include "shell/Databases.h"
#include "JFrame/QtText.h"

namespace {

// Run mode: the OnlineControl menu opens a panel by its record id.
TFormRegistration registration("TFormControlPanel", [](QWidget* parent, const std::string& id) -> QWidget* {
  TDbFile* db = DbF1();
  if (!db) return nullptr;
  try {
    return new TFormControlPanel(parent, *db, id, false);
  } catch (const std::exception& e) {
    AppOperator().MessageBox("Error", e.what(), TMsgIcon::Error);
    return nullptr;
  }
});

bool ReadPlayChannels(TDbFile& db) {
  try {
    std::optional<TJson> options = db.CollectionByName("Options").GetRecord("Options");
    return options && options->is_object() && JsonBool(*options, "PlayChannels");
  } catch (...) {
    return false;
  }
}

}  // namespace

TFormControlPanel::TFormControlPanel(QWidget* Owner, TDbFile& aDb, const std::string& aID,
                                     bool aEditEnable)
    : QWidget(Owner), id(aID), Db(aDb), EditEnable(aEditEnable) {
  setObjectName("FormControlPanel");
  setProperty("HelpContext", 20);
  setAttribute(Qt::WA_DeleteOnClose, false);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setWidgetResizable(true);
  ScrollArea = new QWidget;
  ScrollArea->setObjectName("ScrollArea");
  ScrollBox1->setWidget(ScrollArea);
  lay->addWidget(ScrollBox1, 1);
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  lay->addWidget(StatusBar1);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  Addelement1 = PopupMenu1->addMenu("Add element")->menuAction();
  QMenu* add = Addelement1->menu();
  Button1 = add->addAction("Button", this, [this] { Button1Click(); });
  rackBar1 = add->addAction("TrackBar", this, [this] { rackBar1Click(); });
  ext1 = add->addAction("Text", this, [this] { ext1Click(); });
  Player1 = add->addAction("Player", this, [this] { Player1Click(); });
  AddHTMLedit1 = add->addAction("HTML edit", this, [this] { AddHTMLedit1Click(); });
  Editelement1 = PopupMenu1->addAction("Edit element", this, [this] { Editelement1Click(); });
  Copyelement1 = PopupMenu1->addAction("Copy element", this, [this] { Copyelement1Click(); });
  Deleteelement1 = PopupMenu1->addAction("Delete element", this, [this] { Deleteelement1Click(); });
  PopupMenu1->addSeparator();
  Controlpanel1 = PopupMenu1->addAction("Save control panels settings ", this, [this] { Controlpanel1Click(); });
  if (EditEnable) {
    ScrollArea->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ScrollArea, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu1Popup(p); });
  } else {
    ScrollArea->setContextMenuPolicy(Qt::NoContextMenu);
    // Run mode keeps the save entry as a key of the window.
    auto* save = new QAction(this);
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, [this] { Controlpanel1Click(); });
    addAction(save);
  }

  PlayEnable = ReadPlayChannels(Db);
  FSender = std::make_unique<TRpcSender>(AppOperator());

  std::optional<TJson> rec = Db.CollectionByName("OnLineContr").GetRecord(id, CurrentRecordCntr, true);
  if (!rec || !rec->is_object()) throw std::runtime_error("Control panel \"" + id + "\" is not found");
  json = *rec;
  oldRecord = json;
  setWindowTitle(Qs(JsonStr(json, "Name")));
  if (auto form = json.find("Form"); form != json.end() && form->is_object()) {
    const TElemRect r{static_cast<int>(JsonInt(*form, "Left")), static_cast<int>(JsonInt(*form, "Top")),
                      static_cast<int>(JsonInt(*form, "Width")), static_cast<int>(JsonInt(*form, "Height"))};
    if (r.Width > 0 && r.Height > 0) setGeometry(r.Left, r.Top, r.Width, r.Height);
  } else {
    resize(640, 480);
  }
  for (const std::string& line : CustColorsToLines(json.contains("CustColors") ? json["CustColors"] : TJson()))
    CustomColors << Qs(line);
  if (!json.contains("Table") || !json["Table"].is_array()) json["Table"] = TJson::array();
  for (size_t row = 0; row < json["Table"].size(); ++row) CreateElement(static_cast<int>(row), false);
  UpdateTabOrders();
  if (EditEnable) StatusBar1->showMessage(Qs(editModeHint));
}

TFormControlPanel::~TFormControlPanel() {
  // Outcomes of requests still running go nowhere from now on.
  FSender->DetachSinks();
  while (!EditForms.empty()) delete EditForms.back();  // each removes itself from the list
  // The players go first: their views and timers must not outlive the panel's state.
  for (QWidget* w : Elements())
    if (dynamic_cast<TDockedPlayer*>(w)) delete w;
  FSender.reset();
}

std::string TFormControlPanel::Caption() const { return windowTitle().toStdString(); }

TRpcSender& TFormControlPanel::Sender() { return *FSender; }

QWidget* TFormControlPanel::FrameWidget() const {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) return sub;
  return const_cast<TFormControlPanel*>(this);
}

std::vector<QWidget*> TFormControlPanel::Elements() const {
  std::vector<QWidget*> out;
  for (QObject* o : ScrollArea->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (w && ElementTag(w) >= 0 && AsElement(w)) out.push_back(w);
  }
  std::sort(out.begin(), out.end(), [](QWidget* a, QWidget* b) { return ElementTag(a) < ElementTag(b); });
  return out;
}

QWidget* TFormControlPanel::ElementByTag(int tag) const {
  for (QWidget* w : Elements())
    if (ElementTag(w) == tag) return w;
  return nullptr;
}

QWidget* TFormControlPanel::CreateElement(int row, bool isNew) {
  TJson& entry = json["Table"][static_cast<size_t>(row)];
  const TJson* t = entry.is_object() && entry.contains("Type") ? &entry["Type"] : nullptr;
  const int type = t && t->is_number() ? static_cast<int>(t->get<double>()) : 0;
  QWidget* w = nullptr;
  const QString boxName = QString("PanelMemo%1").arg(row);
  switch (type) {
    case elemButton: {
      auto* b = new TDockedBtn(ScrollArea);
      connect(b, &QPushButton::clicked, this, [this, b] {
        if (b->FDisableOnClick) {
          b->FDisableOnClick = false;
          return;
        }
        BtnClick(b);
      });
      w = b;
      break;
    }
    case elemTrackBar:
      w = new TDockedTrackBar(ScrollArea);
      break;
    case elemText:
      w = new TDockedMemoBox(ScrollArea, boxName);
      break;
    case elemPlayer:
      w = new TDockedPlayer(ScrollArea, &Db, PlayEnable);
      break;
    case elemHTMLedit:
      w = new TDockedHTMLEditorBox(ScrollArea, boxName);
      break;
    default:
      throw std::runtime_error(InvalidElementTypeText(type));
  }
  if (auto* box = dynamic_cast<TDockedBox*>(w)) box->FonBtnClick = [this](QWidget* s) { BtnClick(s); };
  SetElementTag(w, row);
  if (isNew) {
    const TElementKind* kind = FindElementKind(type);
    entry["Width"] = kind->DefaultWidth > 0 ? kind->DefaultWidth : w->width();
    entry["Height"] = kind->DefaultHeight > 0 ? kind->DefaultHeight : w->height();
  }
  AsElement(w)->SetJson(entry);
  if (!isNew) UpdateElement1(w);
  WatchElement(w);
  w->show();
  return w;
}

void TFormControlPanel::WatchElement(QWidget* w) {
  w->installEventFilter(this);
  for (QWidget* c : w->findChildren<QWidget*>()) {
    c->installEventFilter(this);
    // The panel's menu, not the editors' own, in edit mode.
    if (EditEnable) c->setContextMenuPolicy(Qt::NoContextMenu);
  }
  if (EditEnable) w->setContextMenuPolicy(Qt::NoContextMenu);
}

QWidget* TFormControlPanel::AddElement(const TJson& Value, bool isNew) {
  json["Table"].push_back(Value);
  return CreateElement(static_cast<int>(json["Table"].size()) - 1, isNew);
}

QWidget* TFormControlPanel::CreateNewElement(int tp) {
  QWidget* c = AddElement(NewElement(tp, pCursor.x(), pCursor.y()), true);
  // New elements go where the menu was opened.
  UpdateElement1(c);
  SetActive(c);
  UpdateTabOrders();
  OpenEditForm(AsElement(c)->GetJson(), c);
  return c;
}

void TFormControlPanel::AddHTMLedit1Click() {
  AppOperator().MessageBox(Caption(), "Coming soon!", TMsgIcon::Information);
}

void TFormControlPanel::Copyelement1Click() {
  if (!ActControl || !AsElement(ActControl)) return;
  TJson copy = CopiedElement(AsElement(ActControl)->GetJson(), ActControl->x(), ActControl->y());
  QWidget* c = AddElement(copy, false);
  SetActive(c);
  UpdateTabOrders();
  OpenEditForm(AsElement(c)->GetJson(), c);
}

void TFormControlPanel::Deleteelement1Click() {
  if (!ActControl) return;
  const int tag = ElementTag(ActControl);
  // Its edit window goes with it, unasked: it would edit an element that is gone.
  if (TFormEditControl* f = FindEditForm(ActControl)) delete f;
  DeleteTableEntry(json["Table"], tag);
  QWidget* gone = ActControl;
  ActControl = nullptr;
  delete gone;
  for (QWidget* w : Elements())
    if (ElementTag(w) > tag) SetElementTag(w, ElementTag(w) - 1);
  SetActive(ElementByTag(tag));
  UpdateTabOrders();
}

void TFormControlPanel::Editelement1Click() {
  if (ActControl && AsElement(ActControl)) OpenEditForm(AsElement(ActControl)->GetJson(), ActControl);
}

void TFormControlPanel::SetActive(QWidget* w) {
  ActControl = w;
  if (w) w->setFocus();
}

TFormEditControl* TFormControlPanel::OpenEditForm(const TJson& Value, QWidget* aControl) {
  if (TFormEditControl* f = FindEditForm(aControl)) {
    f->showNormal();
    f->raise();
    f->activateWindow();
    return f;
  }
  auto* f = new TFormEditControl(this, aControl, Value);
  EditForms.push_back(f);
  f->show();
  return f;
}

TFormEditControl* TFormControlPanel::FindEditForm(QWidget* aControl) const {
  for (TFormEditControl* f : EditForms)
    if (f->Element == aControl) return f;
  return nullptr;
}

void TFormControlPanel::FreeEditForm(TFormEditControl* aForm) {
  EditForms.erase(std::remove(EditForms.begin(), EditForms.end(), aForm), EditForms.end());
}

void TFormControlPanel::UpdateElement1(QWidget* aControl) {
  IDockedElement* el = AsElement(aControl);
  if (!el) return;
  el->UpdateView();
  const TJson j = el->GetJson();
  auto num = [&](const char* key, int current) {
    auto it = j.find(key);
    return it != j.end() && it->is_number() ? static_cast<int>(it->get<double>()) : current;
  };
  aControl->setGeometry(num("PosX", aControl->x()), num("PosY", aControl->y()),
                        std::max(1, num("Width", aControl->width())),
                        std::max(1, num("Height", aControl->height())));
}

void TFormControlPanel::UpdateFormJson() {
  TJson& table = json["Table"];
  for (QWidget* w : Elements()) {
    const int tag = ElementTag(w);
    if (tag < 0 || static_cast<size_t>(tag) >= table.size()) continue;
    TJson j = AsElement(w)->GetJson();
    SetElementRect(j, {w->x(), w->y(), w->width(), w->height()});
    table[static_cast<size_t>(tag)] = j;
  }
  const QRect g = FrameWidget()->geometry();
  json["Form"] = {{"Left", g.x()}, {"Top", g.y()}, {"Height", g.height()}, {"Width", g.width()}};
  std::vector<std::string> lines;
  for (const QString& l : CustomColors) lines.push_back(l.toStdString());
  TJson cust = LinesToCustColors(lines);
  if (cust.empty())
    json.erase("CustColors");
  else
    json["CustColors"] = cust;
}

void TFormControlPanel::UpdateTabOrders() {
  std::vector<QWidget*> els = Elements();
  std::vector<TElemRect> rects;
  QRect bounds;
  for (QWidget* w : els) {
    rects.push_back({w->x(), w->y(), w->width(), w->height()});
    bounds |= w->geometry();
  }
  const std::vector<int> tabs = TabOrders(rects, FrameWidget()->width());
  std::vector<QWidget*> ordered(els.size());
  for (size_t i = 0; i < els.size(); ++i) {
    ordered[static_cast<size_t>(tabs[i])] = els[i];
    els[i]->setProperty("TabOrder", tabs[i]);
  }
  for (size_t i = 1; i < ordered.size(); ++i) QWidget::setTabOrder(ordered[i - 1], ordered[i]);
  // The scroll area scrolls to elements placed beyond the window.
  ScrollArea->setMinimumSize(std::max(0, bounds.right() + 1), std::max(0, bounds.bottom() + 1));
}

bool TFormControlPanel::FormArrayKeyPressed(int Key) {
  const Qt::KeyboardModifiers m = QApplication::keyboardModifiers();
  return ArrowKey(Key, m & Qt::ControlModifier, m & Qt::ShiftModifier);
}

bool TFormControlPanel::ArrowKey(int Key, bool ctrl, bool shift) {
  if (!EditEnable) return false;
  TArrowKey k;
  switch (Key) {
    case Qt::Key_Left: k = akLeft; break;
    case Qt::Key_Up: k = akUp; break;
    case Qt::Key_Right: k = akRight; break;
    case Qt::Key_Down: k = akDown; break;
    default: return false;
  }
  // The element that holds the focus (or one of its parts).
  QWidget* c = QApplication::focusWidget();
  while (c && c->parentWidget() != ScrollArea) c = c->parentWidget();
  if (!c || !AsElement(c)) c = ActControl;
  if (!c || !AsElement(c)) return false;
  TElemRect r{c->x(), c->y(), c->width(), c->height()};
  if (!ArrowKeyChange(r, k, ctrl, shift, width(), height(), StatusBar1->height())) return false;
  c->setGeometry(r.Left, r.Top, r.Width, r.Height);
  if (TFormEditControl* f = FindEditForm(c)) f->ShowGeometry(r);
  QCursor::setPos(c->mapToGlobal(c->rect().center()));
  return true;
}

void TFormControlPanel::PreparePopup(const QPoint& p) {
  pCursor = p;
  QWidget* c = ScrollArea->childAt(p);
  while (c && c->parentWidget() != ScrollArea) c = c->parentWidget();
  ActControl = c && AsElement(c) ? c : nullptr;
  if (ActControl) ActControl->setFocus();
  const bool has = ActControl != nullptr;
  Editelement1->setEnabled(has);
  Copyelement1->setEnabled(has);
  Deleteelement1->setEnabled(has);
  Addelement1->setEnabled(!has);
}

void TFormControlPanel::PopupMenu1Popup(const QPoint& p) {
  if (!EditEnable) return;
  PreparePopup(p);
  PopupMenu1->popup(ScrollArea->mapToGlobal(p));
}

bool TFormControlPanel::Controlpanel1Click() {
  UpdateFormJson();
  bool saved = false;
  std::string why;
  TDbCollectionItem& panels = Db.CollectionByName("OnLineContr");
  try {
    TFrameWrites writes(&panels);
    saved = panels.UpdateRecord(id, json, CurrentRecordCntr);
    if (!saved) why = WriteFailure(&panels);
  } catch (const std::exception& e) {
    saved = false;
    why = e.what();
  }
  if (!saved) {
    // A write that failed names its reason; only a refused counter is another user's change
    // (told as a warning, as the panel always has).
    const TWriteFailureText msg = WriteFailureText(Caption(), "saved", why);
    AppOperator().MessageBox(Caption(), msg.Text,
                             why.empty() ? TMsgIcon::Warning : msg.Icon);
    return false;
  }
  oldRecord = json;
  return true;
}

void TFormControlPanel::ControlEndDock(QWidget* aControl, const QPoint& p) {
  IDockedElement* el = AsElement(aControl);
  if (!el) return;
  const TElemRect r = DropPlace({aControl->x(), aControl->y(), aControl->width(), aControl->height()},
                                p.x(), p.y(), ScrollArea->width(), ScrollArea->height());
  aControl->move(r.Left, r.Top);
  aControl->raise();
  aControl->setFocus();
  TJson j = el->GetJson();
  j["PosX"] = r.Left;
  j["PosY"] = r.Top;
  el->SetJson(j);
  if (TFormEditControl* f = FindEditForm(aControl)) f->ShowGeometry(r);
}

void TFormControlPanel::BtnClick(QWidget* Sender) {
  IDockedElement* el = AsElement(Sender);
  if (!el) return;
  QPointer<QStatusBar> status = StatusBar1;
  RunElementCommands(Db, el->GetJson(), *FSender, [status](const std::string& text) {
    if (status) status->showMessage(QString::fromStdString(text));
  });
}

bool TFormControlPanel::FormCloseQuery() {
  UpdateFormJson();
  if (JsonEqual(json, oldRecord)) return true;
  switch (AppOperator().Ask(Caption(), "Control panel \"" + Caption() + "\" was changed! Save changes?",
                            TMsgIcon::Question, TMsgButtons::YesNoCancel, TMsgAnswer::Cancel)) {
    case TMsgAnswer::Yes:
      return Controlpanel1Click();
    case TMsgAnswer::No:
      return true;
    default:
      return false;
  }
}

void TFormControlPanel::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  e->accept();
}

void TFormControlPanel::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!FPlaced) {
    FPlaced = true;
    // An MDI child takes the stored geometry on its frame.
    auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget());
    auto form = json.find("Form");
    if (sub && form != json.end() && form->is_object() && JsonInt(*form, "Width") > 0 &&
        JsonInt(*form, "Height") > 0)
      sub->setGeometry(static_cast<int>(JsonInt(*form, "Left")), static_cast<int>(JsonInt(*form, "Top")),
                       static_cast<int>(JsonInt(*form, "Width")), static_cast<int>(JsonInt(*form, "Height")));
    UpdateTabOrders();
    QTimer::singleShot(0, this, [this] { FormActivate(); });
  }
}

bool TFormControlPanel::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && FPlaced) FormActivate();
  return QWidget::event(e);
}

void TFormControlPanel::FormActivate() {
  // An empty panel offers its menu at once (only where the menu exists: edit mode).
  if (EditEnable && Elements().empty() && !PopupMenu1->isVisible()) PopupMenu1Popup(QPoint(6, 6));
}

bool TFormControlPanel::eventFilter(QObject* watched, QEvent* e) {
  if (!EditEnable) return QWidget::eventFilter(watched, e);
  auto* w = qobject_cast<QWidget*>(watched);
  QWidget* element = w;
  while (element && element->parentWidget() != ScrollArea) element = element->parentWidget();
  if (!element || !AsElement(element)) return QWidget::eventFilter(watched, e);
  auto* state = dynamic_cast<TElementState*>(element);
  switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* me = static_cast<QMouseEvent*>(e);
      const Qt::KeyboardModifiers m = me->modifiers();
      if (me->button() != Qt::LeftButton || !(m & (Qt::ControlModifier | Qt::ShiftModifier))) break;
      if (state) state->FDisableOnClick = true;
      ActControl = element;
      element->setFocus();
      QCursor::setPos(element->mapToGlobal(QPoint(element->width() - 2, element->height() - 2)));
      if (m & Qt::ControlModifier) {
        FDragged = element;
        element->setCursor(Qt::SizeAllCursor);
      }
      return true;  // the element's click is suppressed
    }
    case QEvent::MouseMove:
      if (FDragged) return true;
      break;
    case QEvent::MouseButtonRelease: {
      if (state && state->FDisableOnClick) state->FDisableOnClick = false;
      if (FDragged) {
        QWidget* dragged = FDragged;
        FDragged = nullptr;
        dragged->unsetCursor();
        auto* me = static_cast<QMouseEvent*>(e);
        ControlEndDock(dragged, ScrollArea->mapFromGlobal(me->globalPosition().toPoint()));
        UpdateTabOrders();
        return true;
      }
      break;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, e);
}
