#include "JFrame/FormRegistry.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "JFrame/RefStringGrid.h"
#include "base/Operator.h"

namespace {
std::map<std::string, TFormFactory>& Factories() {
  static std::map<std::string, TFormFactory> factories;
  return factories;
}
std::map<std::string, TRecordFormFactory>& RecordFactories() {
  static std::map<std::string, TRecordFormFactory> factories;
  return factories;
}
QPointer<QMdiArea>& Area() {
  static QPointer<QMdiArea> area;
  return area;
}

struct TCollectionWindow {
  std::string FormClassName;
  std::string MenuItem;
};

// Collection name -> its editing window and menu entry.
std::map<std::string, TCollectionWindow>& CollectionWindows() {
  static std::map<std::string, TCollectionWindow> windows = {
      {"Films", {"TFormFilms", "Movies"}},
      {"Channels", {"TFormChannels", "Channels"}},
      {"PlayLists", {"TFormPlayLists", "PlayLists"}},
      {"ChSched", {"TFormChSchedules", "Channel schedules"}},
      {"Groups", {"TFormGroups", "Groups of STB"}},
      {"Servers", {"TFormServers", "Servers"}},
      {"Schedules", {"TFormSchedules", "Schedules"}},
      {"OnLineContr", {"TFormOnLineContr", "Online control"}},
      {"WebPages", {"TFormWebPage", "Web pages"}},
      {"Portals", {"TFormPortals", "Web portals"}},
      {"SrvOptions", {"TFormSrvOptions", "Server's options"}},
      {"Options", {"TFormOptions", ""}},
      {"Users", {"TFormUsers", "Users"}},
      {"Contracts", {"TFormContracts", ""}},
      {"Places", {"TFormPlaces", ""}},
  };
  return windows;
}

std::map<const TDbCollectionItem*, std::vector<IRecordEditor*>>& Attached() {
  static std::map<const TDbCollectionItem*, std::vector<IRecordEditor*>> frames;
  return frames;
}

TFormShowHandler& GFormShowHandler() {
  static TFormShowHandler handler;
  return handler;
}
}  // namespace

std::string CollectionFormClass(const std::string& collection) {
  auto it = CollectionWindows().find(collection);
  return it == CollectionWindows().end() ? std::string() : it->second.FormClassName;
}

std::string CollectionMenuItem(const std::string& collection) {
  auto it = CollectionWindows().find(collection);
  return it == CollectionWindows().end() ? std::string() : it->second.MenuItem;
}

void SetCollectionForm(const std::string& collection, const std::string& formClassName,
                       const std::string& menuItem) {
  CollectionWindows()[collection] = {formClassName, menuItem};
}

void AddJFrame(TDbCollectionItem& coll, IRecordEditor* frame) { Attached()[&coll].push_back(frame); }

void DelJFrame(TDbCollectionItem& coll, IRecordEditor* frame) {
  auto it = Attached().find(&coll);
  if (it == Attached().end()) return;
  auto& frames = it->second;
  if (auto f = std::find(frames.begin(), frames.end(), frame); f != frames.end()) frames.erase(f);
  if (frames.empty()) Attached().erase(it);
}

std::vector<IRecordEditor*> AttachedJFrames(const TDbCollectionItem& coll) {
  auto it = Attached().find(&coll);
  return it == Attached().end() ? std::vector<IRecordEditor*>() : it->second;
}

void SetFormShowHandler(TFormShowHandler handler) { GFormShowHandler() = std::move(handler); }
const TFormShowHandler& FormShowHandler() { return GFormShowHandler(); }

void FormShow(TDbCollectionItem& coll, const std::string& ID) {
  if (CollectionFormClass(coll.Name()).empty()) return;
  if (const auto& handler = FormShowHandler()) handler(coll, ID);
}

void OpenRecordForFix(TDbCollectionItem& coll, const std::string& id) {
  for (IRecordEditor* frame : AttachedJFrames(coll)) {
    if (frame && frame->EditorRecordID() == id) {
      frame->BringEditorToFront();
      return;
    }
  }
  FormShow(coll, id);
}

void OpenRecordOnRow(TDbCollectionItem& coll, const std::string& id, int row) {
  OpenRecordForFix(coll, id);
  if (row <= 0) return;
  for (IRecordEditor* frame : AttachedJFrames(coll)) {
    auto* w = dynamic_cast<QWidget*>(frame);
    if (!w || frame->EditorRecordID() != id) continue;
    QWidget* form = w;
    while (form->parentWidget() && !qobject_cast<QMdiSubWindow*>(form->parentWidget()))
      form = form->parentWidget();
    for (TRefStringGrid* grid : form->findChildren<TRefStringGrid*>()) {
      if (grid->DataRowCount() < row) continue;
      auto select = [g = QPointer<TRefStringGrid>(grid), row] {
        if (!g || g->DataRowCount() < row) return;
        g->SetCurrentCell(g->FixedColCount(), g->FixedRowCount() + row - 1);
        g->setFocus();
      };
      select();
      // A window that has just opened settles its table after it is shown (recomputed rows,
      // the first cell chosen): the row is chosen again once that is done.
      QTimer::singleShot(0, grid, select);
      QTimer::singleShot(150, grid, select);
      return;
    }
  }
}

void TFormRegistry::Register(const std::string& className, TFormFactory factory) {
  Factories()[className] = std::move(factory);
}

bool TFormRegistry::IsRegistered(const std::string& className) {
  return Factories().count(className) > 0;
}

QWidget* TFormRegistry::Create(const std::string& className, QWidget* parent) {
  auto it = Factories().find(className);
  return it == Factories().end() ? nullptr : it->second(parent);
}

std::vector<std::string> TFormRegistry::Names() {
  std::vector<std::string> names;
  for (const auto& [name, factory] : Factories()) names.push_back(name);
  return names;
}

void TFormRegistry::RegisterWithRecord(const std::string& className, TRecordFormFactory factory) {
  RecordFactories()[className] = std::move(factory);
}

bool TFormRegistry::IsRegisteredWithRecord(const std::string& className) {
  return RecordFactories().count(className) > 0;
}

QWidget* TFormRegistry::CreateWithRecord(const std::string& className, QWidget* parent,
                                         const std::string& id) {
  auto it = RecordFactories().find(className);
  return it == RecordFactories().end() ? nullptr : it->second(parent, id);
}

QMdiArea* FormArea() { return Area(); }
void SetFormArea(QMdiArea* area) { Area() = area; }

QMdiSubWindow* ShowAsChild(QWidget* form) {
  QMdiArea* area = FormArea();
  if (!area) {
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    return nullptr;
  }
  QMdiSubWindow* child = area->addSubWindow(form);
  child->setAttribute(Qt::WA_DeleteOnClose);
  child->setWindowTitle(form->windowTitle());
  child->setWindowIcon(form->windowIcon());
  // The child follows the form's title (editors show the record's name in it).
  QObject::connect(form, &QWidget::windowTitleChanged, child, &QWidget::setWindowTitle);
  QSize hint = form->sizeHint().expandedTo(form->minimumSize());
  if (form->width() > hint.width() && form->height() > hint.height()) hint = form->size();
  child->resize(hint + QSize(8, 30));
  // A new window cascades from the top left corner and stays inside the visible area, where
  // QMdiArea's own placement would put it partly out of sight beside the others.
  const QSize room = area->viewport()->size();
  if (room.width() > 100 && room.height() > 100) {
    child->resize(child->size().boundedTo(room));
    const int step = 24 * static_cast<int>((area->subWindowList().size() - 1) % 8);
    QPoint at(step, step);
    at.setX(std::max(0, std::min(at.x(), room.width() - child->width())));
    at.setY(std::max(0, std::min(at.y(), room.height() - child->height())));
    child->move(at);
  }
  child->show();
  child->raise();
  area->setActiveSubWindow(child);
  return child;
}

bool CloseFormWindow(QWidget* form) {
  if (auto* child = qobject_cast<QMdiSubWindow*>(form->parentWidget())) return child->close();
  return form->close();
}

std::vector<IJFrame*> FramesOf(QWidget* form) {
  std::vector<IJFrame*> frames;
  if (!form) return frames;
  for (QObject* o : form->findChildren<QObject*>())
    if (auto* f = dynamic_cast<IJFrame*>(o)) frames.push_back(f);
  return frames;
}

std::string NotAvailableMessage(const std::string& formClassName) {
  return "The window " + formClassName + " is not available in this console.";
}

void ShowCollectionForm(TDbCollectionItem& coll, const std::string& ID) {
  const std::string className = CollectionFormClass(coll.Name());
  if (className.empty()) return;
  if (QMdiArea* area = FormArea()) {
    QList<QMdiSubWindow*> windows = area->subWindowList(QMdiArea::ActivationHistoryOrder);
    std::reverse(windows.begin(), windows.end());  // the most recently active first
    for (QMdiSubWindow* child : windows) {
      QWidget* form = child->widget();
      if (!form || className != form->metaObject()->className()) continue;
      for (IJFrame* frame : FramesOf(form)) {
        if ((!ID.empty() && frame->EditorRecordID() == ID) || coll.DbFile().ShowOnlyOneForm()) {
          child->showNormal();
          child->raise();
          area->setActiveSubWindow(child);
          return;
        }
      }
    }
  }
  if (!TFormRegistry::IsRegistered(className)) {
    AppOperator().MessageBox(coll.GetName(), NotAvailableMessage(className),
                             TMsgIcon::Information);
    return;
  }
  QWidget* form = nullptr;
  try {
    form = TFormRegistry::Create(className, nullptr);
    if (!form) return;
    if (!ID.empty()) {
      std::vector<IJFrame*> frames = FramesOf(form);
      if (!frames.empty()) frames.front()->SetEditorRecordID(ID);
    }
  } catch (const std::exception& e) {
    // A window that cannot be built or cannot show its record is reported; the console and
    // every other window go on.
    delete form;
    AppOperator().MessageBox(coll.GetName(),
                             "The window " + className + " could not be opened" +
                                 (ID.empty() ? "" : " on record " + ID) + ": " + e.what(),
                             TMsgIcon::Error);
    return;
  }
  ShowAsChild(form);
}
