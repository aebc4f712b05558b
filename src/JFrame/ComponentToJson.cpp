#include "JFrame/ComponentToJson.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QMainWindow>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>

#include "JFrame/FloatSpin.h"
#include "base/CommonProcedures.h"
#include "JFrame/QtText.h"

namespace {
std::string Std(const QString& s) { return s.toStdString(); }

bool IsIndexStep(const std::string& step) {
  return !step.empty() && step.find_first_not_of("0123456789") == std::string::npos;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> steps;
  size_t start = 0;
  while (true) {
    size_t dot = path.find('.', start);
    steps.push_back(path.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return steps;
}

// Half-even rounding to an integer, as the number edits round.
int64_t RoundHalfEvenToInt(double v) { return static_cast<int64_t>(std::nearbyint(v)); }

bool IsTextEdit(QObject* o) {
  return qobject_cast<QLineEdit*>(o) || qobject_cast<QPlainTextEdit*>(o) ||
         qobject_cast<QTextEdit*>(o);
}

QString EditText(QObject* o) {
  if (auto* e = qobject_cast<QLineEdit*>(o)) return e->text();
  if (auto* e = qobject_cast<QPlainTextEdit*>(o)) return e->toPlainText();
  if (auto* e = qobject_cast<QTextEdit*>(o)) return e->toPlainText();
  return {};
}

void SetEditText(QObject* o, const QString& text) {
  if (auto* e = qobject_cast<QLineEdit*>(o)) e->setText(text);
  else if (auto* e = qobject_cast<QPlainTextEdit*>(o)) e->setPlainText(text);
  else if (auto* e = qobject_cast<QTextEdit*>(o)) e->setPlainText(text);
}

// The widget whose geometry a form binding keeps: an MDI child's frame, or the window itself.
QWidget* FormFrame(QObject* o) {
  auto* w = qobject_cast<QWidget*>(o);
  if (!w) return nullptr;
  if (qobject_cast<QMdiSubWindow*>(w)) return w;
  if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget())) return sub;
  if (!w->isWindow()) return nullptr;
  // A control shown on its own is still that control, not a form.
  const QString cls = w->metaObject()->className();
  if (qobject_cast<QDialog*>(w) || qobject_cast<QMainWindow*>(w) || cls == "QWidget" ||
      cls.startsWith("TForm"))
    return w;
  return nullptr;
}

std::vector<TCompClassMethods> BuiltInMethods() {
  std::vector<TCompClassMethods> t;
  t.push_back({"TFloatSpinEdit", [](QObject* o) { return qobject_cast<TFloatSpinEdit*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType type) {
                 auto* e = qobject_cast<TFloatSpinEdit*>(o);
                 if (type == vt_Integer) e->SetValue(static_cast<double>(JsonAsInteger(v)));
                 else if (type == vt_Double) e->SetValue(JsonAsDouble(v));
               },
               [](QObject* o, TJsonCompVarType type) -> std::optional<TJson> {
                 auto* e = qobject_cast<TFloatSpinEdit*>(o);
                 if (type == vt_Integer) return TJson(RoundHalfEvenToInt(e->Value()));
                 if (type == vt_Double) return TJson(e->Value());
                 return std::nullopt;
               }});
  t.push_back({"TDateTimeEdit", [](QObject* o) { return qobject_cast<TDateTimeEdit*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType type) {
                 auto* e = qobject_cast<TDateTimeEdit*>(o);
                 if (type == vt_String) e->SetValueAsText(Qs(JsonAsString(v)));
                 else if (type == vt_Double) e->SetValue(JsonAsDouble(v));
               },
               [](QObject* o, TJsonCompVarType type) -> std::optional<TJson> {
                 auto* e = qobject_cast<TDateTimeEdit*>(o);
                 if (type == vt_String) return TJson(Std(e->ValueAsText()));
                 if (type == vt_Double) return TJson(e->Value());
                 return std::nullopt;
               }});
  t.push_back({"TCustomEdit", IsTextEdit,
               [](QObject* o, const TJson& v, TJsonCompVarType type) {
                 if (type == vt_String) SetEditText(o, Qs(JsonAsString(v)));
                 else if (type == vt_Integer) SetEditText(o, QString::number(JsonAsInteger(v)));
               },
               [](QObject* o, TJsonCompVarType type) -> std::optional<TJson> {
                 // UTF-8 is this system's 8-bit code page: every character is kept.
                 if (type == vt_String) return TJson(Std(EditText(o)));
                 if (type == vt_Integer) {
                   std::string s = Std(EditText(o).trimmed());
                   int64_t n = 0;
                   const char* first = s.data();
                   if (!s.empty() && s[0] == '+') ++first;
                   auto r = std::from_chars(first, s.data() + s.size(), n);
                   if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
                     throw EConvertError("'" + s + "' is not a valid integer value");
                   return TJson(n);
                 }
                 return std::nullopt;
               }});
  t.push_back({"TCheckBox", [](QObject* o) { return qobject_cast<QCheckBox*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType) {
                 qobject_cast<QCheckBox*>(o)->setChecked(JsonAsBoolean(v));
               },
               [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                 return TJson(qobject_cast<QCheckBox*>(o)->isChecked());
               }});
  t.push_back({"TRadioGroup", [](QObject* o) { return qobject_cast<TRadioGroup*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType) {
                 qobject_cast<TRadioGroup*>(o)->SetItemIndex(static_cast<int>(JsonAsInteger(v)));
               },
               [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                 return TJson(qobject_cast<TRadioGroup*>(o)->ItemIndex());
               }});
  t.push_back({"TComboBox", [](QObject* o) { return qobject_cast<QComboBox*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType type) {
                 auto* c = qobject_cast<QComboBox*>(o);
                 if (type == vt_Integer) {
                   c->setCurrentIndex(static_cast<int>(JsonAsInteger(v)));
                 } else {
                   int i = c->findText(Qs(JsonAsString(v)), Qt::MatchExactly | Qt::MatchCaseSensitive);
                   c->setCurrentIndex(i >= 0 ? i : (c->count() > 0 ? 0 : -1));
                 }
                 emit c->activated(c->currentIndex());  // the change handler follows the load
               },
               [](QObject* o, TJsonCompVarType type) -> std::optional<TJson> {
                 auto* c = qobject_cast<QComboBox*>(o);
                 if (type == vt_Integer) return TJson(c->currentIndex());
                 return TJson(Std(c->currentText()));
               }});
  t.push_back({"TSpeedButton", [](QObject* o) { return qobject_cast<QToolButton*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType) {
                 qobject_cast<QToolButton*>(o)->setChecked(JsonAsBoolean(v));
               },
               [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                 return TJson(qobject_cast<QToolButton*>(o)->isChecked());
               }});
  t.push_back({"TStringGrid", [](QObject* o) { return qobject_cast<TStringGrid*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType) {
                 auto* g = qobject_cast<TStringGrid*>(o);
                 size_t rows = v.is_array() ? v.size() : 0;
                 int cols = g->columnCount();
                 if (v.is_array())
                   for (const TJson& row : v)
                     if (row.is_array()) cols = std::max(cols, static_cast<int>(row.size()));
                 g->clearContents();
                 g->setColumnCount(cols);
                 g->setRowCount(g->FixedRows() + std::max<int>(1, static_cast<int>(rows)));
                 for (size_t r = 0; r < rows; ++r) {
                   const TJson& row = v[r];
                   if (!row.is_array()) continue;
                   for (size_t c = 0; c < row.size(); ++c)
                     g->SetCell(static_cast<int>(c), g->FixedRows() + static_cast<int>(r),
                                Qs(JsonCellText(row[c])));
                 }
               },
               [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                 auto* g = qobject_cast<TStringGrid*>(o);
                 TJson rows = TJson::array();
                 bool allBlank = true;
                 for (int r = g->FixedRows(); r < g->rowCount(); ++r) {
                   TJson row = TJson::array();
                   for (int c = 0; c < g->columnCount(); ++c) {
                     QString cell = g->Cell(c, r);
                     if (!cell.trimmed().isEmpty()) allBlank = false;
                     row.push_back(ParseLenientJson(Std(cell)));
                   }
                   rows.push_back(std::move(row));
                 }
                 // The one empty row a grid keeps for an empty table is not a row of data.
                 if (rows.size() == 1 && allBlank) return TJson::array();
                 return rows;
               }});
  t.push_back({"TCheckListBox", [](QObject* o) { return qobject_cast<TCheckListBox*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType) {
                 auto* l = qobject_cast<TCheckListBox*>(o);
                 l->clear();
                 if (!v.is_array()) return;
                 for (const TJson& pair : v) {
                   if (pair.is_array() && !pair.empty())
                     l->AddItem(Qs(JsonAsString(pair[0])), pair.size() > 1 && JsonAsBoolean(pair[1]));
                   else
                     l->AddItem(Qs(JsonAsString(pair)), false);
                 }
               },
               [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                 auto* l = qobject_cast<TCheckListBox*>(o);
                 TJson out = TJson::array();
                 for (int i = 0; i < l->count(); ++i)
                   out.push_back(TJson::array({Std(l->item(i)->text()), l->Checked(i)}));
                 return out;
               }});
  t.push_back({"TForm", [](QObject* o) { return FormFrame(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType) {
                 QWidget* w = FormFrame(o);
                 if (!v.is_object()) return;
                 QRect g = w->geometry();
                 if (v.contains("Left")) g.moveLeft(static_cast<int>(JsonAsInteger(v["Left"])));
                 if (v.contains("Top")) g.moveTop(static_cast<int>(JsonAsInteger(v["Top"])));
                 if (v.contains("Width")) g.setWidth(static_cast<int>(JsonAsInteger(v["Width"])));
                 if (v.contains("Height")) g.setHeight(static_cast<int>(JsonAsInteger(v["Height"])));
                 w->setGeometry(g);
               },
               [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                 QRect g = FormFrame(o)->geometry();
                 return TJson{{"Width", g.width()}, {"Height", g.height()}, {"Top", g.top()},
                              {"Left", g.left()}};
               }});
  t.push_back({"TTreeView", [](QObject* o) { return qobject_cast<QTreeWidget*>(o) != nullptr; },
               [](QObject* o, const TJson& v, TJsonCompVarType) {
                 LoadTreeEntries(qobject_cast<QTreeWidget*>(o), v);
               },
               [](QObject* o, TJsonCompVarType) -> std::optional<TJson> {
                 return SaveTreeEntries(qobject_cast<QTreeWidget*>(o));
               }});
  return t;
}

std::vector<TCompClassMethods>& MethodTable() {
  static std::vector<TCompClassMethods> table = BuiltInMethods();
  return table;
}
}  // namespace

const std::vector<TCompClassMethods>& CompClassMethods() { return MethodTable(); }

void InsertCompClassBefore(const std::string& before, TCompClassMethods methods) {
  auto& t = MethodTable();
  auto it = std::find_if(t.begin(), t.end(), [&](const TCompClassMethods& m) { return m.ClassName == before; });
  t.insert(it, std::move(methods));
}

// ---------------------------------------------------------------------------------------------
// Paths and conversions

const TJson* JsonAtPath(const TJson& root, const std::string& path) {
  const TJson* cur = &root;
  for (const std::string& step : SplitPath(path)) {
    if (cur->is_object()) {
      auto it = cur->find(step);
      if (it == cur->end()) return nullptr;
      cur = &*it;
    } else if (cur->is_array() && IsIndexStep(step)) {
      size_t i = std::stoul(step);
      if (i >= cur->size()) return nullptr;
      cur = &(*cur)[i];
    } else {
      return nullptr;
    }
  }
  return cur;
}

void SetJsonAtPath(TJson& root, const std::string& path, const TJson& value) {
  TJson* cur = &root;
  std::vector<std::string> steps = SplitPath(path);
  for (size_t k = 0; k < steps.size(); ++k) {
    const std::string& step = steps[k];
    const bool last = k + 1 == steps.size();
    if (cur->is_array() && IsIndexStep(step)) {
      size_t i = std::stoul(step);
      while (cur->size() <= i) cur->push_back(nullptr);
      cur = &(*cur)[i];
    } else {
      if (!cur->is_object()) *cur = TJson::object();
      cur = &(*cur)[step];
    }
    if (last) *cur = value;
  }
}

std::string JsonAsString(const TJson& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return {};
  if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
  return v.dump();
}

int64_t JsonAsInteger(const TJson& v) {
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_float()) return static_cast<int64_t>(std::trunc(v.get<double>()));
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_string()) {
    std::string s = v.get<std::string>();
    int64_t n = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), n);
    if (r.ec == std::errc()) return n;
    double d = 0;
    auto rd = std::from_chars(s.data(), s.data() + s.size(), d);
    if (rd.ec == std::errc()) return static_cast<int64_t>(std::trunc(d));
  }
  return 0;
}

double JsonAsDouble(const TJson& v) {
  if (v.is_number()) return v.get<double>();
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_string()) {
    std::string s = v.get<std::string>();
    double d = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), d);
    if (r.ec == std::errc()) return d;
  }
  return 0;
}

bool JsonAsBoolean(const TJson& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number()) return v.get<double>() != 0;
  if (v.is_string()) {
    std::string s = v.get<std::string>();
    return s == "true" || s == "True" || s == "TRUE" || s == "1";
  }
  return false;
}

TJson ParseLenientJson(const std::string& text) {
  QString q = Qs(text).trimmed();
  std::string s = Std(q);
  if (s.empty()) return nullptr;
  std::string candidate = s;
  // "25." is a number in the project files' own form.
  if (candidate.size() > 1 && candidate.back() == '.' &&
      candidate.find_first_not_of("+-0123456789.") == std::string::npos)
    candidate += '0';
  if (!candidate.empty() && candidate[0] == '+') candidate.erase(0, 1);
  TJson v = TJson::parse(candidate, nullptr, false, true);
  if (!v.is_discarded()) return v;
  const char c = s[0];
  const bool structural = c == '{' || c == '[' || c == '"' || c == '-' || (c >= '0' && c <= '9');
  if (!structural) return s;  // a bare word
  return nullptr;
}

std::string JsonCellText(const TJson& v) {
  if (v.is_null()) return {};
  if (v.is_string()) return v.get<std::string>();
  return v.dump();
}

// ---------------------------------------------------------------------------------------------
// Bindings

TJsonComp::TJsonComp(TLayerOfComps* parent, const std::string& name, QObject* control,
                     const TJson* defaultValue, TJsonCompVarType varType)
    : FComponent(control), FVarType(varType) {
  FParent = parent;
  FNameOfRecord = name;
  if (!control) throw EAssertionFailed("Not Assigned component (CompMethods)");
  for (const TCompClassMethods& m : CompClassMethods()) {
    if (m.Matches(control)) {
      FLoadMethod = m.Load;
      FSaveMethod = m.Save;
      break;
    }
  }
  if (!FLoadMethod)
    throw EAssertionFailed("Invalid Object type:" + Std(control->objectName()) + " (CompMethods)");
  if (defaultValue) {
    FDefault = *defaultValue;
  } else {
    // An integer edit left empty in the window's design has no number to give: its default
    // is then null (shown as 0) instead of a window that cannot be created.
    try {
      Save();
    } catch (const EConvertError&) {
      FCurrent = nullptr;
    }
    FDefault = FCurrent;
  }
}

void TJsonComp::Load(const TJson& value) { FLoadMethod(FComponent, value, FVarType); }

const TJson& TJsonComp::Save() {
  if (std::optional<TJson> v = FSaveMethod(FComponent, FVarType)) FCurrent = std::move(*v);
  return FCurrent;
}

TLayerOfComps::TLayerOfComps(TLayerOfComps* parent, TLayerCompStatus status,
                             std::function<void()> procedure, const std::string& name)
    : FStatus(status), FTempToActiveProcedure(std::move(procedure)) {
  FParent = parent;
  FNameOfRecord = name;
  if (FParent) {
    FParent->MutableDefault()[name] = TJson::object();
    FParent->Current()[name] = TJson::object();
  }
}

const TJson& TLayerOfComps::Default() const {
  return const_cast<TLayerOfComps*>(this)->MutableDefault();
}

TJson& TLayerOfComps::MutableDefault() {
  if (!FParent) return FRootDefault;
  TJson& d = FParent->MutableDefault();
  if (!d.is_object()) d = TJson::object();
  TJson& mine = d[FNameOfRecord];
  if (!mine.is_object()) mine = TJson::object();
  return mine;
}

TJson& TLayerOfComps::Current() {
  if (!FParent) {
    if (!FRootCurrent.is_object()) FRootCurrent = TJson::object();
    return FRootCurrent;
  }
  TJson& c = FParent->Current();
  TJson& mine = c[FNameOfRecord];
  if (!mine.is_object()) mine = TJson::object();
  return mine;
}

TLayerOfComps* TLayerOfComps::AddLayer(const std::string& name, TLayerCompStatus status,
                                       std::function<void()> procedure) {
  auto layer = std::make_unique<TLayerOfComps>(this, status, std::move(procedure), name);
  TLayerOfComps* p = layer.get();
  FComps.push_back(std::move(layer));
  return p;
}

TJsonComp* TLayerOfComps::AddComp(const std::string& name, QObject* control,
                                  const TJson* defaultValue, TJsonCompVarType varType) {
  auto comp = std::make_unique<TJsonComp>(this, name, control, defaultValue, varType);
  TJsonComp* p = comp.get();
  SetJsonAtPath(MutableDefault(), name, p->Default());
  FComps.push_back(std::move(comp));
  return p;
}

void TLayerOfComps::SetCompInfo(const TJson& record) {
  std::vector<TFillFailure> failures;
  Fill(record, "", failures);
  if (!failures.empty()) std::rethrow_exception(failures.front().Error);
}

std::vector<std::string> TLayerOfComps::SetCompInfoReporting(const TJson& record) {
  std::vector<TFillFailure> failures;
  Fill(record, "", failures);
  std::vector<std::string> texts;
  for (const auto& f : failures) {
    std::string why = "unknown failure";
    try {
      std::rethrow_exception(f.Error);
    } catch (const std::exception& e) {
      why = e.what();
    } catch (...) {
    }
    texts.push_back("field \"" + f.Key + "\": " + why);
  }
  return texts;
}

void TLayerOfComps::Fill(const TJson& record, const std::string& prefix,
                         std::vector<TFillFailure>& failures) {
  const bool empty = record.is_null() || (record.is_object() && record.empty());
  for (const auto& child : FComps) {
    if (child->IsComponent()) {
      auto* comp = static_cast<TJsonComp*>(child.get());
      const std::string key = prefix + comp->NameOfRecord();
      const TJson* v = empty ? nullptr : JsonAtPath(record, key);
      try {
        comp->Load(v ? *v : comp->Default());
      } catch (...) {
        failures.push_back({key, std::current_exception()});
        try {
          comp->Load(comp->Default());
        } catch (...) {
          // The control keeps whatever it holds; the failure above already names the key.
        }
      }
    } else {
      static_cast<TLayerOfComps*>(child.get())
          ->Fill(record, prefix + child->NameOfRecord() + ".", failures);
    }
  }
}

void TLayerOfComps::Read() {
  for (const auto& child : FComps) {
    if (child->IsComponent()) {
      auto* comp = static_cast<TJsonComp*>(child.get());
      SetJsonAtPath(Current(), comp->NameOfRecord(), comp->Save());
    } else {
      static_cast<TLayerOfComps*>(child.get())->Read();
    }
  }
}

TJson TLayerOfComps::GetCompInfo() {
  Read();
  return Current();
}

// ---------------------------------------------------------------------------------------------
// Controls

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {
  FLayout = new QVBoxLayout(this);
  FGroup = new QButtonGroup(this);
  FGroup->setExclusive(true);
  connect(FGroup, &QButtonGroup::idClicked, this, [this](int) { emit Clicked(); });
}

void TRadioGroup::SetItems(const QStringList& items) {
  for (QAbstractButton* b : FGroup->buttons()) {
    FGroup->removeButton(b);
    delete b;
  }
  int id = 0;
  for (const QString& text : items) {
    auto* b = new QRadioButton(text, this);
    FGroup->addButton(b, id++);
    FLayout->addWidget(b);
  }
}

QStringList TRadioGroup::Items() const {
  QStringList out;
  for (QAbstractButton* b : FGroup->buttons()) out << b->text();
  return out;
}

QRadioButton* TRadioGroup::Button(int i) const { return qobject_cast<QRadioButton*>(FGroup->button(i)); }

int TRadioGroup::ItemIndex() const { return FGroup->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* b = FGroup->button(index)) {
    b->setChecked(true);
    return;
  }
  // No item: an exclusive group only lets go of its checked button when exclusivity is off.
  FGroup->setExclusive(false);
  for (QAbstractButton* b : FGroup->buttons()) b->setChecked(false);
  FGroup->setExclusive(true);
}

void TCheckListBox::AddItem(const QString& text, bool checked) {
  auto* item = new QListWidgetItem(text, this);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool TCheckListBox::Checked(int i) const {
  QListWidgetItem* it = item(i);
  return it && it->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int i, bool checked) {
  if (QListWidgetItem* it = item(i)) it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
  setRowCount(1);
  verticalHeader()->setDefaultSectionSize(22);
}

QString TStringGrid::Cell(int col, int row) const {
  QTableWidgetItem* it = item(row, col);
  return it ? it->text() : QString();
}

void TStringGrid::SetCell(int col, int row, const QString& text) {
  QTableWidgetItem* it = item(row, col);
  if (!it) {
    it = new QTableWidgetItem;
    setItem(row, col, it);
  }
  it->setText(text);
}

// ---------------------------------------------------------------------------------------------
// Tree views

TJson TreeNodeData(const QTreeWidgetItem* item) {
  if (!item) return TJson::object();
  QVariant v = item->data(0, Qt::UserRole);
  if (!v.isValid()) return TJson::object();
  TJson data = TJson::parse(Std(v.toString()), nullptr, false);
  return data.is_object() ? data : TJson::object();
}

void SetTreeNodeData(QTreeWidgetItem* item, const TJson& data) {
  item->setData(0, Qt::UserRole, Qs(data.dump()));
  // The two keys every tree walk asks for, kept beside the text so no walk parses it.
  const TJson* id = data.is_object() ? JsonAtPath(data, "_ID") : nullptr;
  item->setData(0, Qt::UserRole + 1, Qs(id && id->is_string() ? id->get<std::string>() : ""));
  item->setData(0, Qt::UserRole + 2, !data.is_object() || data.empty() || JsonBool(data, "IsFolder"));
}

std::string TreeNodeID(const QTreeWidgetItem* item) {
  return item ? Std(item->data(0, Qt::UserRole + 1).toString()) : std::string();
}

bool TreeNodeIsFolder(const QTreeWidgetItem* item) {
  if (!item) return true;
  QVariant v = item->data(0, Qt::UserRole + 2);
  return !v.isValid() || v.toBool();
}

namespace {
void AddEntries(QTreeWidget* tree, QTreeWidgetItem* parent, const TJson& entries) {
  if (!entries.is_array()) return;
  for (const TJson& e : entries) {
    if (!e.is_object()) continue;
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    node->setText(0, Qs(JsonStr(e, "text")));
    TJson data = TJson::object();
    for (auto it = e.begin(); it != e.end(); ++it)
      if (it.key() != "text" && it.key() != "child") data[it.key()] = it.value();
    if (e.contains("child")) data["IsFolder"] = true;
    SetTreeNodeData(node, data);
    if (e.contains("child")) AddEntries(tree, node, e["child"]);
  }
}

TJson NodeEntry(const QTreeWidgetItem* node) {
  TJson e = TJson::object();
  e["text"] = Std(node->text(0));
  TJson data = TreeNodeData(node);
  for (auto it = data.begin(); it != data.end(); ++it)
    if (it.key() != "IsFolder") e[it.key()] = it.value();
  if (node->childCount() > 0) {
    TJson children = TJson::array();
    for (int i = 0; i < node->childCount(); ++i) children.push_back(NodeEntry(node->child(i)));
    e["child"] = std::move(children);
  } else if (JsonBool(data, "IsFolder")) {
    e["child"] = TJson::array();
  }
  return e;
}
}  // namespace

void LoadTreeEntries(QTreeWidget* tree, const TJson& entries) {
  QSignalBlocker block(tree);
  QSignalBlocker blockSelection(tree->selectionModel());
  tree->clear();
  AddEntries(tree, nullptr, entries);
}

TJson SaveTreeEntries(const QTreeWidget* tree) {
  TJson out = TJson::array();
  for (int i = 0; i < tree->topLevelItemCount(); ++i) out.push_back(NodeEntry(tree->topLevelItem(i)));
  return out;
}
