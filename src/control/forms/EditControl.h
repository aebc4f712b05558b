#pragma once
// "Edit element": the edit window of one element of a control panel. Its name, position and
// size, server, STB group and commands ("Basic"), the colours and fonts of its parts ("Color",
// "Font") and a player's channel and sound ("Player"). "Apply" changes the panel in memory;
// the panel saves its record itself.
#include <QWidget>
#include <array>
#include <memory>

#include "JFrame/ComponentToJson.h"
#include "control/ControlLayout.h"
#include "recstore/JrecClasses.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class TBtnEdit;
class TColorBtn;
class TFloatSpinEdit;
class TFormControlPanel;
class TRefEdit;

class TFormEditControl : public QWidget {
  Q_OBJECT
public:
  // Owner: the panel window; aElement: the element control; aJson: its element object.
  TFormEditControl(TFormControlPanel* Owner, QWidget* aElement, const TJson& aJson);
  ~TFormEditControl() override;

  // Registers the next colour or font part of the element (at most four of each).
  void AddColor(const std::string& caption, const QColor& color);
  void AddFont(const std::string& caption, const TFontSpec& font);
  // Hides the boxes of the element's kind (boxChannel, boxGroup, ...).
  void HideBoxes(unsigned boxes);
  bool BoxVisible(unsigned box) const;

  // The element object the controls describe now.
  TJson BuildElement();
  // Shows a new position or size of the element (moved with the mouse or the keys).
  void ShowGeometry(const TElemRect& r);

  void BitBtnApplyClick();
  void BitBtnSaveClick();
  void BitBtnCancelClick();
  void BtnColorClick(int slot);
  void ColorBoxChange(int slot);
  void BtnFontClick(int slot);
  // The text colour of a font slot: from its colour box, or from the colour dialog ("...").
  void FontColorBoxChange(int slot);
  void BtnFontColorClick(int slot);
  void EditCommandsBtnClick();
  // Asks about changes not applied; true when the window may close.
  bool FormCloseQuery();

  struct TColorSlot {
    QWidget* Row = nullptr;
    QLabel* Caption = nullptr;
    QComboBox* ColorBox = nullptr;
    TColorBtn* ColorBtn = nullptr;
    QPushButton* Btn = nullptr;
    QColor Value;
  };
  struct TFontSlot {
    QWidget* Row = nullptr;
    QLabel* Caption = nullptr;
    QLabel* Sample = nullptr;
    QPushButton* Btn = nullptr;
    QComboBox* ColorBox = nullptr;  // the text colour
    TColorBtn* ColorBtn = nullptr;
    QPushButton* ColorDlgBtn = nullptr;
    TFontSpec Value;
  };

  int ColorCount = 0;
  int fontCount = 0;
  std::array<TColorSlot, 4> Colors;
  std::array<TFontSlot, 4> fonts;
  // Shows a font slot's value: sample text in its font's colour, colour box and button.
  void ShowFont(TFontSlot& s);
  // The colour dialog with the panel's custom colours (taken back on OK); invalid on cancel.
  QColor ChooseColor(const QColor& initial);
  int TableRow = -1;
  std::string PanelID;
  TJson oldvalue;
  TJson StartValue;
  TColCollData CollData;
  std::unique_ptr<TLayerOfComps> LayerCommon;
  TLayerOfComps* LayerComps = nullptr;
  TJson commands = TJson::array();
  QWidget* Element;
  int ElemType = 0;

  QTabWidget* PageControl1;
  QWidget* TabSheetBasic;
  QWidget* TabSheetColor;
  QWidget* TabSheetFont;
  QWidget* TabSheetPlayer;
  QPlainTextEdit* MemoName;
  TFloatSpinEdit* SpinX;
  TFloatSpinEdit* SpinY;
  TFloatSpinEdit* SpinWidth;
  TFloatSpinEdit* SpinHeight;
  QGroupBox* GroupBoxGroup;
  TRefEdit* RefEditGroup;
  QGroupBox* GroupBoxServer;
  TRefEdit* RefEditServer;
  QGroupBox* GroupBoxCommands;
  TBtnEdit* EditCommands;
  QGroupBox* GroupBoxChannel;
  TRefEdit* RefEditChannel;
  QCheckBox* CheckBoxMute;
  QPushButton* BitBtnApply;
  QPushButton* BitBtnSave;
  QPushButton* BitBtnCancel;

protected:
  void closeEvent(QCloseEvent* e) override;

private:
  // Puts an element object's colours, fonts and commands into the slots and the commands box.
  void LoadParts(const TJson& value);
  void ShowCommandsText();
  TFormControlPanel* FPanel;
  unsigned FHidden = 0;
  bool FClosing = false;
};
