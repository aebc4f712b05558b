#pragma once
// The folder tree of one collection. A collection's folder structure is a tree document, kept
// as one record of the collection "Tree" (by default under the collection's own name): a JSON
// array in display order whose elements are folders {"text", "child", "_ID"} or records
// {"_ID"}. A record's visible name is not stored in the tree; it is the record's own "Name".
//
// TRecTree converts between that stored form and the displayed nodes. Every node carries a
// data object (see TreeNodeData): a record node {"_ID"}, a folder node {"_ID", "IsFolder": true}.
// Saving goes through the change counter of the tree document, so a tree changed by another
// editor since it was read is never overwritten.
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>

#include "JFrame/ComponentToJson.h"
#include "recstore/JrecClasses.h"

enum TobjType { objFolder, objSubFolder, objRecord };

class TRecTree : public QTreeWidget {
  Q_OBJECT
public:
  explicit TRecTree(QWidget* parent = nullptr);
  ~TRecTree() override;

  // Record entries are shown; when false only folders appear.
  bool ShowItems() const { return FShowItems; }
  void SetShowItems(bool v) { FShowItems = v; }
  // Entries carry "_ID"; when false records are shown by their stored "text".
  bool NeedIDs() const { return FNeedIDs; }
  void SetNeedIDs(bool v) { FNeedIDs = v; }

  void SetCollectionsData(const TCollectionData& data) { CollData = data; }
  const TCollectionData& CollectionsData() const { return CollData; }
  // The change counter of the tree document as last read or written.
  int64_t RecordCntr() const { return FRecordCntr; }

  // Reads the tree document (with its counter) from the store, or takes Doc when given, and
  // shows it. Entries whose record is gone are reported and left out of the display.
  void Load(const TJson* doc = nullptr);
  // Reads the stored tree document with its counter (an empty array when there is none).
  TJson ReadTreeDocument();
  // Shows a stored tree document.
  void RecordToTree(const TJson& doc);
  // The stored form of what is shown.
  TJson TreeToRecord() const;
  // Writes the shown tree; false when another editor saved the tree since it was read.
  bool SaveTree();
  // True when the stored tree's counter differs from the one this tree read or wrote.
  bool Changed();

  // A node is a folder when its data says so; no node, or a node without data, counts as a
  // folder too (so adding with nothing selected adds at the top level).
  static bool NodIsFolder(const QTreeWidgetItem* node);
  // The node's "_ID" (empty without data or when NeedIDs is false).
  std::string GetObjectID(const QTreeWidgetItem* node) const;
  // The first node in tree order whose "_ID" is ID (folders too when withFolders).
  QTreeWidgetItem* FindNode(const std::string& ID, bool withFolders = false) const;
  // Every node in tree order.
  std::vector<QTreeWidgetItem*> AllNodes() const;
  // Folder and record images by the node data.
  void SetImages();

  // Adds a node for a new folder, subfolder or record relative to the selected node and
  // selects it: a record or subfolder below a selected folder becomes its last child, a
  // record below a selected record its last sibling, a folder the selected node's last sibling;
  // with nothing selected everything goes to the top level. Data is the node's data object.
  QTreeWidgetItem* InsertFolderOrRecord(TobjType type, const TJson& data, const QString& text);
  // Removes the selected node (with its children).
  void DelSelected();
  // The moves of the arrow buttons; true when something moved.
  bool MoveNodeUp(QTreeWidgetItem* node);
  bool MoveNodeDown(QTreeWidgetItem* node);
  // Drops Dragged onto Target (nullptr: empty space); true when something moved.
  bool DragDropNode(QTreeWidgetItem* dragged, QTreeWidgetItem* target);

  // The binding layer "Tree" in which this control is bound under "TreeView".
  TLayerOfComps& LayerTree() { return *FLayerTree; }

  // A tree nobody may rearrange by the mouse (the reference picker's): drops are refused.
  void SetReadOnlyTree(bool v) { FReadOnlyDrag = v; }
  // Asked before a drag starts; false cancels it (the frame first shows the clicked node).
  std::function<bool()> BeforeDrag;

signals:
  // A node was moved by the mouse (the frame saves the tree).
  void NodeMoved();

protected:
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  // Drags are taken only from this tree itself, and only as copies.
  bool AcceptOwnDrag(QDropEvent* event);
  TJson ToDisplay(const TJson& entries) const;
  bool FReadOnlyDrag = false;
  bool FShowItems = true;
  bool FNeedIDs = true;
  std::unique_ptr<TLayerOfComps> FLayerTree;
  int64_t FRecordCntr = 0;
  TCollectionData CollData;
};

// What an editor's tree puts into a drag of a record: the JSON text {"_ID": ..., "_CL": ...},
// so a reference editor can take the record.
inline constexpr const char* RefMimeType = "application/x-pelmora-ref";
QString RecordRefMimeType();

// Bitmaps of the tree: a folder and a record.
QIcon FolderIcon();
QIcon RecordIcon();
