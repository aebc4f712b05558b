#pragma once
// The options window: edits the record "Options" of the collection Options (root directories,
// the service switch, the encoder's picture settings). Pages are chosen in a list on the left.
#include <QWidget>
#include <functional>
#include <memory>

#include "JFrame/ComponentToJson.h"
#include "recstore/JrecClasses.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TFloatSpinEdit;

// The folder picker: returns the chosen folder (absolute), or "" when cancelled. Tests put
// their own in place.
using TFolderChooser = std::function<QString(QWidget* parent, const QString& title, const QString& start)>;
TFolderChooser& FolderChooser();

// Lets the operator pick a folder for Edit, starting at the edit's folder; the edit gets the
// project-relative form of the choice without a trailing delimiter. Cancelling changes nothing.
void BrowseDirectory(TDbFile& db, QLineEdit* edit);

class TFormOptions : public QWidget {
  Q_OBJECT
public:
  explicit TFormOptions(TDbFile& db, QWidget* parent = nullptr);
  ~TFormOptions() override;

  QTreeWidget* TreeViewOptions;
  QStackedWidget* PageControlOpt;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QWidget* TabSheet3;
  QLabel* Panel1;
  QLineEdit* EditVideoDir;
  QLineEdit* EditServersDir;
  QLineEdit* EditHTMLdir;
  QPushButton* ButtonDir1;
  QPushButton* Button1;
  QPushButton* BtnHTMLDir;
  QCheckBox* CheckBoxPlayChannels;
  QComboBox* ComboBoxResolution;
  TFloatSpinEdit* EditBackupDays;  // daily backups of the project kept (0: none)
  TFloatSpinEdit* EditVideoBitRate;
  QComboBox* ComboBoxAspect;
  QComboBox* ComboBoxFrameRate;
  QCheckBox* CheckBoxMoveFile;
  QCheckBox* CheckBoxKeepExtention;
  QPushButton* BitBtnSave;
  QPushButton* BitBtnCancel;

  TCollectionData CollData;
  TLayerOfComps* LayerComps = nullptr;

  void BitBtnSaveClick();
  void BitBtnCancelClick();
  void ButtonDir1Click(int tag);
  void ComboBoxResolutionChange();
  void PageControlUpdate();
  void AddItem(const QString& title, QWidget* page);

private:
  TDbFile& FDb;
  std::unique_ptr<TLayerOfComps> LayerCommon;
};
