#pragma once
// Binding of form controls to keys of JSON records. A window binds each control once, when it
// is created; SetCompInfo then fills every bound control from a record and GetCompInfo reads
// them all back. Bindings are grouped in layers: a layer is a JSON object whose keys are its
// bound controls and sub-layers ("Common" with "Folder" and "Records" in the editing windows).
//
// What a control reads and writes depends on its class, tested in this order (the first match
// wins): TFloatSpinEdit, TDateTimeEdit, text edits (QLineEdit, QPlainTextEdit, QTextEdit),
// QCheckBox, TRadioGroup, QComboBox, QToolButton (a speed button: its checked state),
// TStringGrid, TCheckListBox, a form (a window or an MDI child: its geometry), QTreeWidget.
// Other control classes (reference editors and grids) add themselves with
// InsertCompClassBefore.
//
// A combo box's change handler is the one connected to QComboBox::activated (the signal of a
// change made by the user); loading a combo box emits it so dependent controls follow.
#include <QCheckBox>
#include <QGroupBox>
#include <QListWidget>
#include <QTableWidget>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "recstore/Json.h"

class QButtonGroup;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

enum TJsonCompVarType { vt_None, vt_String, vt_Integer, vt_Double };
enum TLayerCompStatus { stActive, stNew, stDeleted };

// A programming error in a binding: no control, or a control of a class nothing can bind.
class EAssertionFailed : public std::logic_error {
public:
  using std::logic_error::logic_error;
};

class TLayerOfComps;

// Base of both node kinds of a binding tree.
class TLayerAndComps {
public:
  virtual ~TLayerAndComps() = default;
  virtual int GetCount() const = 0;
  virtual bool IsComponent() const = 0;
  const std::string& NameOfRecord() const { return FNameOfRecord; }
  TLayerOfComps* Parent() const { return FParent; }
  // The value used when a record lacks the key (a layer: the object of its children's defaults).
  virtual const TJson& Default() const = 0;
  TJson TEMP_JSON;  // a spare value no binding operation reads or writes

protected:
  std::string FNameOfRecord;
  TLayerOfComps* FParent = nullptr;
};

using TCompLoad = std::function<void(QObject* control, const TJson& value, TJsonCompVarType type)>;
// Nothing means "leave the previous value".
using TCompSave = std::function<std::optional<TJson>(QObject* control, TJsonCompVarType type)>;

// One bound control.
class TJsonComp : public TLayerAndComps {
public:
  TJsonComp(TLayerOfComps* parent, const std::string& name, QObject* control,
            const TJson* defaultValue, TJsonCompVarType varType);
  int GetCount() const override { return 0; }
  bool IsComponent() const override { return true; }
  const TJson& Default() const override { return FDefault; }
  const TJson& Current() const { return FCurrent; }
  QObject* Component() const { return FComponent; }
  TJsonCompVarType VarType() const { return FVarType; }

  // Puts Value into the control.
  void Load(const TJson& value);
  // Reads the control into the current value and returns it.
  const TJson& Save();

private:
  QObject* FComponent;
  TJsonCompVarType FVarType;
  TJson FDefault;
  TJson FCurrent;
  TCompLoad FLoadMethod;
  TCompSave FSaveMethod;
};

// A layer of bindings. The root layer owns its default and current objects; a sub-layer's
// objects live inside its parent's under the sub-layer's name.
class TLayerOfComps : public TLayerAndComps {
public:
  TLayerOfComps(TLayerOfComps* parent, TLayerCompStatus status, std::function<void()> procedure,
                const std::string& name);
  int GetCount() const override { return static_cast<int>(FComps.size()); }
  bool IsComponent() const override { return false; }
  const TJson& Default() const override;
  // The object that collects the children's values (a caller may add keys to it).
  TJson& Current();
  TJson& MutableDefault();

  TLayerOfComps* AddLayer(const std::string& name, TLayerCompStatus status = stNew,
                          std::function<void()> procedure = {});
  // Binds Control to key Name. Without a default the control's value now is the default.
  TJsonComp* AddComp(const std::string& name, QObject* control,
                     const TJson* defaultValue = nullptr, TJsonCompVarType varType = vt_None);
  TJsonComp* AddComp(const std::string& name, QObject* control, TJsonCompVarType varType) {
    return AddComp(name, control, nullptr, varType);
  }
  // Fills every bound control from Record; keys it lacks (or a null/empty record) give the
  // controls their defaults. A value a control cannot take (a malformed table) leaves that
  // control at its default and the others filled; afterwards the first failure is raised.
  void SetCompInfo(const TJson& record);
  // SetCompInfo that raises nothing for values the controls cannot take: it gives one text per
  // key that failed ("field \"Table\": why"), empty when everything was filled.
  std::vector<std::string> SetCompInfoReporting(const TJson& record);
  // Reads every bound control; the result is a copy of this layer's current object.
  TJson GetCompInfo();
  // GetCompInfo without the copy.
  void GetCompInfo(TJson& out) { out = GetCompInfo(); }

  TLayerAndComps* Child(int i) const { return FComps[static_cast<size_t>(i)].get(); }
  TLayerCompStatus Status() const { return FStatus; }

private:
  struct TFillFailure {
    std::string Key;
    std::exception_ptr Error;
  };
  void Fill(const TJson& record, const std::string& prefix, std::vector<TFillFailure>& failures);
  void Read();

  std::vector<std::unique_ptr<TLayerAndComps>> FComps;
  TLayerCompStatus FStatus;
  std::function<void()> FTempToActiveProcedure;
  TJson FRootDefault = TJson::object();
  TJson FRootCurrent = TJson::object();
};

// The value at a dotted path ("a.b.0.c": a decimal step selects an array element); nullptr when
// a step is missing. SetJsonAtPath creates the objects on the way.
const TJson* JsonAtPath(const TJson& root, const std::string& path);
void SetJsonAtPath(TJson& root, const std::string& path, const TJson& value);

// The conversions of the JSON library applied to values of another type than expected.
std::string JsonAsString(const TJson& v);
int64_t JsonAsInteger(const TJson& v);
double JsonAsDouble(const TJson& v);
bool JsonAsBoolean(const TJson& v);
// A grid cell's text read leniently: blank is null; JSON text (with comments, and numbers
// ending in a decimal point) is that value; a bare word is a string; anything else is null.
TJson ParseLenientJson(const std::string& text);
// The text a grid cell shows for a value (strings as they are, null as nothing).
std::string JsonCellText(const TJson& v);

// The load and save operations of one control class.
struct TCompClassMethods {
  std::string ClassName;                      // for InsertCompClassBefore
  std::function<bool(QObject*)> Matches;      // the class test
  TCompLoad Load;
  TCompSave Save;
};
// The dispatch table in test order.
const std::vector<TCompClassMethods>& CompClassMethods();
// Adds a control class in front of the entry named Before (at the end when there is none).
void InsertCompClassBefore(const std::string& before, TCompClassMethods methods);

// ---------------------------------------------------------------------------------------------
// Controls of the binding vocabulary that Qt has no direct class for.

// A group of radio buttons with one selected item (-1: none).
class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  explicit TRadioGroup(QWidget* parent = nullptr);
  void SetItems(const QStringList& items);
  QStringList Items() const;
  int ItemIndex() const;
  void SetItemIndex(int index);
  QRadioButton* Button(int i) const;

signals:
  void Clicked();  // the operator selected an item

private:
  QVBoxLayout* FLayout;
  QButtonGroup* FGroup;
};

// A list of items with check marks.
class TCheckListBox : public QListWidget {
  Q_OBJECT
public:
  using QListWidget::QListWidget;
  void AddItem(const QString& text, bool checked);
  bool Checked(int i) const;
  void SetChecked(int i, bool checked);
};

// A grid of text cells. Column titles are the horizontal header; FixedRows counts title rows
// kept inside the cells (0 here by default).
class TStringGrid : public QTableWidget {
  Q_OBJECT
public:
  explicit TStringGrid(QWidget* parent = nullptr);
  int FixedRows() const { return FFixedRows; }
  void SetFixedRows(int n) { FFixedRows = n; }
  QString Cell(int col, int row) const;
  void SetCell(int col, int row, const QString& text);

private:
  int FFixedRows = 0;
};

// The data object of a tree node (its keys other than "text" and "child"; folders carry
// "IsFolder": true).
TJson TreeNodeData(const QTreeWidgetItem* item);
void SetTreeNodeData(QTreeWidgetItem* item, const TJson& data);
// The node's "_ID" ("" without one) and whether it counts as a folder (no data, empty data or
// "IsFolder" true), without reading the whole data object.
std::string TreeNodeID(const QTreeWidgetItem* item);
bool TreeNodeIsFolder(const QTreeWidgetItem* item);
// A tree's display entries and back; loading clears the tree and suppresses its signals.
void LoadTreeEntries(QTreeWidget* tree, const TJson& entries);
TJson SaveTreeEntries(const QTreeWidget* tree);
