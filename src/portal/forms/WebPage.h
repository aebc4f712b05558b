#pragma once
// The web pages window: web page records, each an HTML template file with the texts,
// references, images and navigation menu for the template's tags. The window shows only the
// tabs for which the template has tags; "Reload" surveys the template again and makes the tag
// rows follow it.
#include <functional>
#include <memory>

#include <QTreeWidget>

#include "JFrame/RecordForm.h"
#include "portal/WebPage.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeWidgetItem;
class TDataModuleDoWeb;
class TRefEdit;

// The navigation menu tree: drags only within itself, and a drop follows the rules of the
// record trees, so that only folders ever take children:
//   folder onto item            -> first node of the item's level
//   item or folder onto folder  -> first child of the folder
//   item onto the item after it -> the two swap
//   item onto another item      -> just before it
//   anything onto empty space   -> last top-level node
// A folder never goes into its own subtree.
class TMenuTree : public QTreeWidget {
  Q_OBJECT
public:
  explicit TMenuTree(QWidget* parent = nullptr);
  // Moves Dragged as a drop onto Target (null: empty space); false when nothing moved.
  bool DropNode(QTreeWidgetItem* dragged, QTreeWidgetItem* target);

signals:
  void NodeMoved();

protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  bool AcceptOwnDrag(QDropEvent* event);
};

class TFormWebPage : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormWebPage(TDbFile& db, QWidget* parent = nullptr);
  ~TFormWebPage() override;

  QGroupBox* GroupBoxTemplate;
  QLineEdit* EditHtmlFileName;
  QPushButton* ButtonChoiseDir;  // "..."
  QPushButton* BtnReloadTemplate;  // "Reload"
  QGroupBox* GroupBoxDescr;
  QPlainTextEdit* MemoDescr;
  QGroupBox* GroupBoxSysTmpl;
  TRefEdit* RefEditSystemTemplate;
  QLabel* LabelSysTmpl;  // "Page is system template"
  QTabWidget* PageControlTags;
  QWidget* TabSheetText;
  QWidget* TabSheetMenu;
  QWidget* TabSheetRefs;
  QWidget* TabSheetImgs;
  TRefStringGrid* RefStringGridText;
  TRefStringGrid* RefStringGridRef;
  TRefStringGrid* RefStringGridImg;
  TMenuTree* RecTree1;
  QLineEdit* EditMenuTitle;
  QGroupBox* GroupBoxMenuObj;  // "Reference"
  TRefEdit* RefEditMenuObj;
  QMenu* PopupMenuTree;
  QAction* MenuItemAddR;
  QAction* MenuItemAddF;
  QAction* MenuItemAddSF;
  QAction* MenuItemAddDel;

  // The tabs and label as shown now.
  TWebPageTabs Tabs() const;
  void ShowTabs(const TWebPageTabs& tabs);

  void JFrame1RecordToComp(TJson& rec, TRecordToCompType typ);
  void JFrame1CompToRecord(TJson& rec);
  void JFrame1NewRecordAdded();
  void JFrame1Change();
  // "Reload": false when the template could not be surveyed (nothing changed).
  bool BtnReloadTemplateClick();
  // "...": the file dialog, then TakeTemplateFile.
  void ButtonChoiseDirClick();
  // A chosen template file: stored below the templates folder and reloaded, or refused with an
  // error box. True when taken.
  bool TakeTemplateFile(const std::string& chosen);
  void MenuItemAddRClick();
  void MenuItemAddFClick();
  void MenuItemAddSFClick();
  void MenuItemAddDelClick();
  void RecTree1Click();
  void UpdateRecord();
  void CompsDoVisible();
  void RefStringGridRefLoaded(TRefStringGrid* grid);
  // The HTML editor on the text of data row Row of the "Text" grid; true when it was changed.
  bool EditTextCell(int row);

  // The templates folder with a trailing delimiter.
  std::string TemplatesRoot();
  TDataModuleDoWeb& Generator() { return *FGen; }

  // Replaces the file dialog (tests): gets the folder to open in, returns the chosen file or "".
  std::function<std::string(const std::string& startDir)> ChooseFile;
  // Replaces the HTML editor dialog (tests): gets the text, returns the edited one or nothing.
  std::function<std::optional<std::string>(const std::string& text)> EditHtml;

private:
  void SetupTextGrid();
  QTreeWidgetItem* SelectedMenuNode() const;
  std::unique_ptr<TLayerOfComps> FLayerCommon;
  TLayerOfComps* FLayerComps = nullptr;
  QTreeWidgetItem* FLastTreeNode = nullptr;
  std::unique_ptr<TDataModuleDoWeb> FGen;
  std::string FLastDir;
  bool FLoadingNode = false;
};
