#include "JFrame/RecTree.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QStyle>
#include <QTreeWidgetItemIterator>
#include <functional>

#include "base/Operator.h"
#include "shell/TreeDocument.h"
#include "JFrame/QtText.h"

namespace {

int IndexInParent(QTreeWidgetItem* node) {
  QTreeWidgetItem* p = node->parent();
  return p ? p->indexOfChild(node) : node->treeWidget()->indexOfTopLevelItem(node);
}

// Takes Node out of wherever it is; it keeps its children.
void TakeNode(QTreeWidget* tree, QTreeWidgetItem* node) {
  if (QTreeWidgetItem* p = node->parent())
    p->takeChild(p->indexOfChild(node));
  else
    tree->takeTopLevelItem(tree->indexOfTopLevelItem(node));
}

// Puts a taken node at Index among the children of Parent (top level when Parent is null);
// an index past the end appends.
void PutNode(QTreeWidget* tree, QTreeWidgetItem* parent, int index, QTreeWidgetItem* node) {
  if (parent) {
    parent->insertChild(std::min(index, parent->childCount()), node);
  } else {
    tree->insertTopLevelItem(std::min(index, tree->topLevelItemCount()), node);
  }
}

int ChildCount(QTreeWidget* tree, QTreeWidgetItem* parent) {
  return parent ? parent->childCount() : tree->topLevelItemCount();
}

void CollapseAll(QTreeWidgetItem* node) {
  node->setExpanded(false);
  for (int i = 0; i < node->childCount(); ++i) CollapseAll(node->child(i));
}

bool IsAncestorOrSelf(const QTreeWidgetItem* ancestor, const QTreeWidgetItem* node) {
  for (const QTreeWidgetItem* n = node; n; n = n->parent())
    if (n == ancestor) return true;
  return false;
}
}  // namespace

// Made once: the style decodes its bitmaps anew on every call, which a tree of thousands of
// records would feel.
QIcon FolderIcon() {
  static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
  return icon;
}
QIcon RecordIcon() {
  static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  return icon;
}

TRecTree::TRecTree(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::CopyAction);
  FLayerTree = std::make_unique<TLayerOfComps>(nullptr, stNew, nullptr, "Tree");
  FLayerTree->AddComp("TreeView", this);
}

TRecTree::~TRecTree() = default;

bool TRecTree::NodIsFolder(const QTreeWidgetItem* node) { return TreeNodeIsFolder(node); }

std::string TRecTree::GetObjectID(const QTreeWidgetItem* node) const {
  if (!node || !FNeedIDs) return {};
  return TreeNodeID(node);
}

std::vector<QTreeWidgetItem*> TRecTree::AllNodes() const {
  std::vector<QTreeWidgetItem*> nodes;
  for (QTreeWidgetItemIterator it(const_cast<TRecTree*>(this)); *it; ++it) nodes.push_back(*it);
  return nodes;
}

QTreeWidgetItem* TRecTree::FindNode(const std::string& ID, bool withFolders) const {
  if (ID.empty()) return nullptr;
  for (QTreeWidgetItem* node : AllNodes()) {
    if (!withFolders && NodIsFolder(node)) continue;
    if (GetObjectID(node) == ID) return node;
  }
  return nullptr;
}

void TRecTree::SetImages() {
  for (QTreeWidgetItem* node : AllNodes())
    node->setIcon(0, NodIsFolder(node) ? FolderIcon() : RecordIcon());
}

TJson TRecTree::ReadTreeDocument() {
  if (!CollData.Tree) return TJson::array();
  int64_t cntr = 0;
  std::optional<TJson> rec;
  try {
    rec = CollData.Tree->GetRecord(CollData.TreeID, cntr, true);
  } catch (const EDbReadError& e) {
    // The tree shows empty and can not be saved over the stored one (no counter matches -1);
    // the next reload reads it again.
    FRecordCntr = -1;
    AppOperator().MessageBox("Error", std::string("The tree of records can not be read: ") +
                                          e.what(),
                             TMsgIcon::Error);
    return TJson::array();
  }
  FRecordCntr = rec ? cntr : 0;
  return rec && rec->is_array() ? std::move(*rec) : TJson::array();
}

void TRecTree::Load(const TJson* doc) {
  RecordToTree(doc ? *doc : ReadTreeDocument());
}


TJson TRecTree::ToDisplay(const TJson& entries) const {
  TJson out = TJson::array();
  if (!entries.is_array()) return out;
  for (const TJson& e : entries) {
    if (!e.is_object()) continue;
    if (TreeEntryIsFolder(e)) {
      TJson f = TJson::object();
      f["text"] = JsonStr(e, "text");
      f["child"] = ToDisplay(e["child"]);
      f["IsFolder"] = true;
      if (FNeedIDs) f["_ID"] = JsonStr(e, "_ID");
      out.push_back(std::move(f));
      continue;
    }
    if (!FShowItems) continue;
    if (!FNeedIDs) {
      out.push_back(TJson{{"text", JsonStr(e, "text")}});
      continue;
    }
    const std::string id = JsonStr(e, "_ID");
    std::optional<TJson> rec;
    try {
      if (CollData.Records && !id.empty()) rec = CollData.Records->GetRecord(id);
    } catch (const EDbReadError&) {
      // Kept under its identifier, so that a save of the tree does not drop it.
      out.push_back(TJson{{"text", id}, {"_ID", id}});
      continue;
    }
    if (!rec) {
      AppOperator().MessageBox("Warning", "Object {\"_id\": " + id + "} not found!",
                               TMsgIcon::Warning);
      continue;
    }
    out.push_back(TJson{{"text", JsonStr(*rec, "Name")}, {"_ID", id}});
  }
  return out;
}

void TRecTree::RecordToTree(const TJson& doc) {
  TJson record = TJson::object();
  record["TreeView"] = ToDisplay(doc);
  FLayerTree->SetCompInfo(record);
  SetImages();
}

namespace {
TJson ToStored(const TJson& display, bool needIDs) {
  TJson out = TJson::array();
  for (const TJson& e : display) {
    TJson s = TJson::object();
    if (TreeEntryIsFolder(e)) {
      s["text"] = JsonStr(e, "text");
      s["child"] = ToStored(e["child"], needIDs);
      if (needIDs) s["_ID"] = JsonStr(e, "_ID");
    } else if (needIDs) {
      s["_ID"] = JsonStr(e, "_ID");
    } else {
      // Without identifiers the text is all a record entry has.
      s["text"] = JsonStr(e, "text");
    }
    out.push_back(std::move(s));
  }
  return out;
}
}  // namespace

TJson TRecTree::TreeToRecord() const {
  TJson display = SaveTreeEntries(this);
  return ToStored(display, FNeedIDs);
}

bool TRecTree::SaveTree() {
  if (!CollData.Tree) return false;
  return CollData.Tree->NewOrUpdateRecord(CollData.TreeID, TreeToRecord(), FRecordCntr);
}

bool TRecTree::Changed() {
  if (!CollData.Tree) return false;
  int64_t cntr = 0;
  try {
    if (!CollData.Tree->GetRecordCntr(CollData.TreeID, cntr)) cntr = 0;
  } catch (const EDbReadError&) {
    return true;  // not known: taken for changed, so the tree is read again before a change
  }
  return cntr != FRecordCntr;
}

QTreeWidgetItem* TRecTree::InsertFolderOrRecord(TobjType type, const TJson& data,
                                                const QString& text) {
  QList<QTreeWidgetItem*> sel = selectedItems();
  QTreeWidgetItem* selected = sel.isEmpty() ? nullptr : sel.first();
  auto* node = new QTreeWidgetItem;
  node->setText(0, text);
  SetTreeNodeData(node, data);
  node->setIcon(0, NodIsFolder(node) ? FolderIcon() : RecordIcon());
  QTreeWidgetItem* parent = nullptr;
  if (selected) {
    const bool selectedIsFolder = NodIsFolder(selected);
    if ((type == objRecord || type == objSubFolder) && selectedIsFolder)
      parent = selected;
    else
      parent = selected->parent();
  }
  PutNode(this, parent, ChildCount(this, parent), node);
  if (parent) parent->setExpanded(true);
  {
    QSignalBlocker block(this);
    clearSelection();
    setCurrentItem(node);
    node->setSelected(true);
  }
  return node;
}

void TRecTree::DelSelected() {
  QList<QTreeWidgetItem*> sel = selectedItems();
  if (sel.isEmpty()) return;
  delete sel.first();
}

bool TRecTree::MoveNodeUp(QTreeWidgetItem* node) {
  if (!node) return false;
  // Taking the node out and putting it back is no selection by the operator.
  QSignalBlocker quiet(this);
  if (node->isExpanded()) CollapseAll(node);
  QTreeWidgetItem* p = itemAbove(node);
  QTreeWidgetItem* parent = node->parent();
  if (!p) {
    if (!parent && indexOfTopLevelItem(node) == 0) return false;
    TakeNode(this, node);
    PutNode(this, nullptr, 0, node);
  } else if (p->parent() == parent) {
    if (p->isExpanded() && NodIsFolder(p)) {
      TakeNode(this, node);
      PutNode(this, p, p->childCount(), node);
    } else {
      TakeNode(this, node);
      PutNode(this, parent, IndexInParent(p), node);
    }
  } else if (p == parent) {
    TakeNode(this, node);
    PutNode(this, p->parent(), IndexInParent(p), node);
  } else {
    QTreeWidgetItem* level = p->parent();
    TakeNode(this, node);
    PutNode(this, level, ChildCount(this, level), node);
  }
  setCurrentItem(node);
  return true;
}

bool TRecTree::MoveNodeDown(QTreeWidgetItem* node) {
  if (!node) return false;
  // Taking the node out and putting it back is no selection by the operator.
  QSignalBlocker quiet(this);
  if (node->isExpanded()) CollapseAll(node);
  QTreeWidgetItem* n = itemBelow(node);
  QTreeWidgetItem* parent = node->parent();
  if (!n) {
    const bool hasNextSibling = IndexInParent(node) + 1 < ChildCount(this, parent);
    if (!parent && !hasNextSibling) return false;
    TakeNode(this, node);
    PutNode(this, nullptr, topLevelItemCount(), node);
  } else if (n->parent() != parent) {
    TakeNode(this, node);
    PutNode(this, n->parent(), IndexInParent(n), node);
  } else if (n->isExpanded() && NodIsFolder(n)) {
    TakeNode(this, node);
    PutNode(this, n, 0, node);
  } else {
    // After N: just before N's next sibling, or as the last node of the level.
    TakeNode(this, node);
    PutNode(this, parent, IndexInParent(n) + 1, node);
  }
  setCurrentItem(node);
  return true;
}

bool TRecTree::DragDropNode(QTreeWidgetItem* dragged, QTreeWidgetItem* target) {
  if (!dragged || dragged == target) return false;
  QSignalBlocker quiet(this);
  const bool draggedFolder = NodIsFolder(dragged);
  if (!target) {
    if (!dragged->parent() && indexOfTopLevelItem(dragged) == topLevelItemCount() - 1)
      return false;
    TakeNode(this, dragged);
    PutNode(this, nullptr, topLevelItemCount(), dragged);
  } else {
    // A folder never goes into its own subtree.
    if (draggedFolder && IsAncestorOrSelf(dragged, target)) return false;
    const bool targetFolder = NodIsFolder(target);
    if (targetFolder) {
      TakeNode(this, dragged);
      PutNode(this, target, 0, dragged);
    } else if (draggedFolder) {
      QTreeWidgetItem* level = target->parent();
      TakeNode(this, dragged);
      PutNode(this, level, 0, dragged);
    } else if (target->parent() == dragged->parent() &&
               IndexInParent(target) == IndexInParent(dragged) + 1) {
      // Dropped onto the record right after it: the two swap.
      QTreeWidgetItem* level = target->parent();
      TakeNode(this, target);
      PutNode(this, level, IndexInParent(dragged), target);
    } else {
      QTreeWidgetItem* level = target->parent();
      TakeNode(this, dragged);
      PutNode(this, level, IndexInParent(target), dragged);
    }
  }
  setCurrentItem(dragged);
  return true;
}

QStringList TRecTree::mimeTypes() const {
  QStringList types = QTreeWidget::mimeTypes();
  types << RecordRefMimeType();
  return types;
}

QMimeData* TRecTree::mimeData(const QList<QTreeWidgetItem*>& items) const {
  QMimeData* data = QTreeWidget::mimeData(items);
  if (data && !items.isEmpty() && !NodIsFolder(items.first()) && CollData.Records) {
    TJson ref{{"_ID", GetObjectID(items.first())}, {"_CL", CollData.Records->Name()}};
    data->setData(RecordRefMimeType(), QByteArray::fromStdString(ref.dump()));
  }
  return data;
}

void TRecTree::startDrag(Qt::DropActions) {
  if (BeforeDrag && !BeforeDrag()) return;
  // Only ever a copy: a move accepted elsewhere (a reference editor, with Shift held) would make
  // the view take the node out of the tree, and the next tree save would lose the record.
  QTreeWidget::startDrag(Qt::CopyAction);
}

bool TRecTree::AcceptOwnDrag(QDropEvent* event) {
  if (event->source() != this || FReadOnlyDrag) {
    event->ignore();
    return false;
  }
  // The move is made by the tree itself; the drag must not remove anything from the source.
  event->setDropAction(Qt::CopyAction);
  event->accept();
  return true;
}

void TRecTree::dragMoveEvent(QDragMoveEvent* event) { AcceptOwnDrag(event); }

void TRecTree::dragEnterEvent(QDragEnterEvent* event) { AcceptOwnDrag(event); }

void TRecTree::dropEvent(QDropEvent* event) {
  if (!AcceptOwnDrag(event)) return;
  if (DragDropNode(currentItem(), itemAt(event->position().toPoint()))) emit NodeMoved();
}

QString RecordRefMimeType() { return QString::fromLatin1(RefMimeType); }
