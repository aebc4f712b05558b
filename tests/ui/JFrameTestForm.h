#pragma once
// A small editing window for the frame's tests: the frame on the left, a text bound to "Text"
// on the record page.
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>

#include "JFrame/JFrame.h"

inline QString Qs(const std::string& s) { return QString::fromStdString(s); }

struct TTestForm {
  QWidget Form;
  TJFrame* Frame;
  QTabWidget* Pages;
  QWidget* TabRec;
  QWidget* TabTree;
  QLineEdit* EditText;

  TTestForm(TDbFile& db, const std::string& collection) {
    auto* layout = new QHBoxLayout(&Form);
    Frame = new TJFrame(&Form);
    layout->addWidget(Frame);
    auto* host = new QWidget(&Form);
    auto* hostLayout = new QVBoxLayout(host);
    Pages = new QTabWidget(host);
    hostLayout->addWidget(Pages);
    layout->addWidget(host, 1);
    TabTree = new QWidget;
    TabRec = new QWidget;
    Pages->addTab(TabTree, "Tree");
    Pages->addTab(TabRec, "Record");
    EditText = new QLineEdit(TabRec);
    Frame->SetFormName("Films");
    Frame->AssignComponents(Pages, TabRec, TabTree);
    TCollectionData cd;
    db.SC(collection, "Tree", cd);
    Frame->TreeView->SetCollectionsData(cd);
    Frame->LayerComps->AddComp("Text", EditText, vt_String);
    Frame->Load();
  }
  TRecTree* Tree() const { return Frame->TreeView; }
  QTreeWidgetItem* Node(const std::string& text) const {
    for (QTreeWidgetItem* n : Tree()->AllNodes())
      if (n->text(0) == Qs(text)) return n;
    return nullptr;
  }
  // A click on a node.
  void Click(QTreeWidgetItem* node) const { Tree()->setCurrentItem(node); }
  std::string Shown() const { return Frame->RecordName(); }
};


// The order of the shown nodes as "name" texts, children in brackets.
inline std::string Shape(const QTreeWidget* tree) {
  std::function<std::string(const QTreeWidgetItem*)> node = [&](const QTreeWidgetItem* n) {
    std::string s = n->text(0).toStdString();
    if (n->childCount() > 0 || TRecTree::NodIsFolder(n)) {
      s += "[";
      for (int i = 0; i < n->childCount(); ++i) s += (i ? " " : "") + node(n->child(i));
      s += "]";
    }
    return s;
  };
  std::string out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i)
    out += (i ? " " : "") + node(tree->topLevelItem(i));
  return out;
}
