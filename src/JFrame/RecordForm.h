#pragma once
// The shape every collection editing window shares: the record editor frame on the left, and
// on the right the page shown for a folder (TabSheetTree) and the page with the record's
// controls (TabSheetRec). A window adds its controls to TabSheetRec, binds them on
// JFrame1->LayerComps and calls LoadFrame. Closing asks the frame about unsaved edits.
#include <QWidget>
#include <string>

#include "JFrame/JFrame.h"
#include "shell/Databases.h"
#include "JFrame/FormRegistry.h"

class QGroupBox;
class QLineEdit;
class QSplitter;
class QTabWidget;
class QLabel;
class TRG_RefEdit;
class TRefStringGrid;

class TRecordForm : public QWidget {
  Q_OBJECT
public:
  // Collection is the edited collection of Db; its folder tree is the tree document of the
  // same name in the collection "Tree".
  TRecordForm(TDbFile& db, const std::string& collection, const std::string& formName,
              const std::string& newRecordName, QWidget* parent = nullptr);

  TJFrame* JFrame1;
  QSplitter* Splitter;
  QWidget* PanelMain;
  QTabWidget* PageControl1;
  QWidget* TabSheetTree;
  QWidget* TabSheetRec;
  QLabel* LabelFolder;  // what the folder page says

  TDbFile& Db() const { return FDb; }

protected:
  // Reads the tree and shows the first record; call once the controls are bound.
  void LoadFrame();
  // A group box "Description" on Parent with its one-line edit EditDescr.
  QGroupBox* DescriptionBox(QWidget* parent, QLineEdit*& editDescr);
  // Declares grid column ACol as a reference into Collection of this window's database, its
  // picker titled TreeCaption (for a grid's OnLoaded).
  TRG_RefEdit* RefColumn(TRefStringGrid* grid, int ACol, const std::string& collection,
                         const QString& treeCaption);
  void closeEvent(QCloseEvent* event) override;

private:
  TDbFile& FDb;
};

// Registers editing window T, made on the main database, under its class name:
//   static TRecordFormRegistration<TFormGroups> registration("TFormGroups");
template <class T>
struct TRecordFormRegistration {
  explicit TRecordFormRegistration(const char* className) {
    TFormRegistry::Register(className, [](QWidget* parent) -> QWidget* {
      TDbFile* db = DbF1();
      return db ? new T(*db, parent) : nullptr;
    });
  }
};
