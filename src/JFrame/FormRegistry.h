#pragma once
// The windows of the console: which window class edits which collection (by collection name),
// the menu entry that opens it, the editor frames open on each collection, and the editing
// window classes by name ("TFormFilms", ...). A window file registers its class with
//   static TFormRegistration registration("TFormFilms", [](QWidget* parent) { ... });
// Windows are MDI children of the main window's area; the form widget inside a child keeps its
// class name, which is what FormShow compares with the collection's window class.
#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "recstore/JrecClasses.h"

class QMdiArea;
class QMdiSubWindow;

// An editing window's frame as "open record to fix" sees it: enough to find the editor that
// shows a record and bring it to the front.
class IRecordEditor {
public:
  virtual ~IRecordEditor() = default;
  virtual std::string EditorRecordID() const = 0;
  virtual void BringEditorToFront() = 0;
};

// An editor frame as the windows see it: it shows one record of its collection and can be told
// to show another (selecting it in its tree).
class IJFrame : public IRecordEditor {
public:
  virtual void SetEditorRecordID(const std::string& id) = 0;
};

using TFormFactory = std::function<QWidget*(QWidget* parent)>;
// A window opened on one record (a control panel on its panel record).
using TRecordFormFactory = std::function<QWidget*(QWidget* parent, const std::string& id)>;

// A window that takes the arrow keys before the focused control does (control panels move
// their selection with them). True: the key was used.
class IArrowKeyHandler {
public:
  virtual ~IArrowKeyHandler() = default;
  virtual bool FormArrayKeyPressed(int key) = 0;
};

class TFormRegistry {
public:
  static void Register(const std::string& className, TFormFactory factory);
  static bool IsRegistered(const std::string& className);
  static QWidget* Create(const std::string& className, QWidget* parent);
  static std::vector<std::string> Names();
  static void RegisterWithRecord(const std::string& className, TRecordFormFactory factory);
  static bool IsRegisteredWithRecord(const std::string& className);
  static QWidget* CreateWithRecord(const std::string& className, QWidget* parent,
                                   const std::string& id);
};

struct TFormRegistration {
  TFormRegistration(const char* className, TFormFactory factory) {
    TFormRegistry::Register(className, std::move(factory));
  }
  TFormRegistration(const char* className, TRecordFormFactory factory) {
    TFormRegistry::RegisterWithRecord(className, std::move(factory));
  }
};

// ---------------------------------------------------------------------------------------------
// Collections and their windows

// The window class that edits the collection of this name ("" for none) and the caption of
// the menu entry that opens it ("" for none).
std::string CollectionFormClass(const std::string& collection);
std::string CollectionMenuItem(const std::string& collection);
// Names (or renames) the window of a collection, e.g. for a window added later.
void SetCollectionForm(const std::string& collection, const std::string& formClassName,
                       const std::string& menuItem = "");

// The editor frames that show records of a collection, in the order they were opened.
void AddJFrame(TDbCollectionItem& coll, IRecordEditor* frame);
void DelJFrame(TDbCollectionItem& coll, IRecordEditor* frame);
std::vector<IRecordEditor*> AttachedJFrames(const TDbCollectionItem& coll);

// Opens the window of a collection on a record (empty: no record). The main window installs
// ShowCollectionForm; without a handler FormShow does nothing.
using TFormShowHandler = std::function<void(TDbCollectionItem& coll, const std::string& ID)>;
void SetFormShowHandler(TFormShowHandler handler);
const TFormShowHandler& FormShowHandler();
// Opens or shows the collection's editing window on record ID (empty: none); nothing for a
// collection without a window.
void FormShow(TDbCollectionItem& coll, const std::string& ID);

// Finds an open editor of record ID of Coll and brings it to the front; otherwise opens the
// collection's window on the record. What a window-backed operator does on "Open record to fix?".
void OpenRecordForFix(TDbCollectionItem& coll, const std::string& id);
// OpenRecordForFix, then the first table of the record's window that has row Row (from 1) gets
// that row as its current one. Row 0 only opens the record.
void OpenRecordOnRow(TDbCollectionItem& coll, const std::string& id, int row);

// The MDI area the editing windows open in (the main window sets it).
QMdiArea* FormArea();
void SetFormArea(QMdiArea* area);

// Puts Form into a new MDI child of the area (deleted when closed), titled with the form's
// title, and shows it. Returns the child.
QMdiSubWindow* ShowAsChild(QWidget* form);
// Closes the window Form lives in (its MDI child, or the form itself); false when it refused.
bool CloseFormWindow(QWidget* form);
// The editor frames inside a window, in component order.
std::vector<IJFrame*> FramesOf(QWidget* form);

// FormShow of a collection: an open window of the class that shows record ID (or any of them
// when the database shows only one form per collection) comes to the front; otherwise a new
// window of the class opens, on record ID when given. A class nobody registered says so in a
// message box.
void ShowCollectionForm(TDbCollectionItem& coll, const std::string& ID);
// The message shown for a window class that is not part of this console.
std::string NotAvailableMessage(const std::string& formClassName);
