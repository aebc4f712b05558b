#pragma once
// The elements of a control panel: a button, a track bar, a text box and an HTML box with their
// "Send text" button, and a player of a channel's live stream. Each keeps its element object of
// the panel's "Table" and shows it; the panel finds an element's row in its "Tag" property.
#include <QGroupBox>
#include <QPushButton>
#include <QSlider>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "control/ControlLayout.h"
#include "recstore/Json.h"

class QFrame;
class QPlainTextEdit;
class QTextEdit;
class QTimer;
class TDbFile;
class TFormEditControl;
class TPasLibVlcPlayer;

// What every element does for the panel and its edit window.
class IDockedElement {
public:
  virtual ~IDockedElement() = default;
  // Shows the stored element object (caption, text; a player starts its channel).
  virtual void UpdateView() = 0;
  // The element object (boxes first store their text into their "showtext" command).
  virtual TJson GetJson() = 0;
  // Stores a copy and applies its "Colors" and "Fonts" to the parts; missing keys leave them.
  virtual void SetJson(const TJson& value) = 0;
  // Hides the edit window's boxes the element has no use for and registers its colour and
  // font parts with it.
  virtual void FillEditForm(TFormEditControl* form) = 0;
  // Called with the new element object before the edit window applies it.
  virtual void BeforeApply(TFormEditControl* form, TJson& value) = 0;
};
#define IDockedElement_iid "{1FD5D1DD-438D-4C19-9B4F-AD8AFB84887E}"
Q_DECLARE_INTERFACE(IDockedElement, IDockedElement_iid)

// The row of an element in the panel's "Table" (its tag); -1 for other widgets.
int ElementTag(const QWidget* w);
void SetElementTag(QWidget* w, int tag);
IDockedElement* AsElement(QWidget* w);

// Qt colours and fonts of the stored forms.
QColor ColorOfValue(int64_t value);
int64_t ValueOfColor(const QColor& c);
QFont FontOfSpec(const TFontSpec& font);
TFontSpec SpecOfFont(const QFont& font, const QColor& color);

// A push button drawn in its own colour; a double click counts as a click.
class TColorBtn : public QPushButton {
  Q_OBJECT
public:
  explicit TColorBtn(QWidget* parent = nullptr);
  QColor ButtonColor() const { return FButtonColor; }
  void SetButtonColor(const QColor& c);
  bool Frame3D() const { return F3DFrame; }
  void SetFrame3D(bool v);
  // The caption's colour (the font part's colour).
  void SetTextColor(const QColor& c);
  QColor TextColor() const { return FTextColor; }

protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
  QColor FButtonColor;
  QColor FTextColor;
  bool F3DFrame = false;
};

// What elements share: the stored object and the click suppressed by edit-mode mouse handling.
struct TElementState {
  TJson FloadedJson = TJson::object();
  bool FDisableOnClick = false;
};

class TDockedBtn : public TColorBtn, public IDockedElement, public TElementState {
  Q_OBJECT
  Q_INTERFACES(IDockedElement)
public:
  explicit TDockedBtn(QWidget* parent = nullptr);
  void UpdateView() override;
  TJson GetJson() override;
  void SetJson(const TJson& value) override;
  void FillEditForm(TFormEditControl* form) override;
  void BeforeApply(TFormEditControl*, TJson&) override {}
};

class TDockedTrackBar : public QSlider, public IDockedElement, public TElementState {
  Q_OBJECT
  Q_INTERFACES(IDockedElement)
public:
  explicit TDockedTrackBar(QWidget* parent = nullptr);
  void UpdateView() override {}
  TJson GetJson() override { return FloadedJson; }
  void SetJson(const TJson& value) override { FloadedJson = value; }
  void FillEditForm(TFormEditControl* form) override;
  void BeforeApply(TFormEditControl*, TJson&) override {}
};

// A group box titled with the element's name, with a "Send text" button at its bottom.
class TDockedBox : public QGroupBox, public IDockedElement, public TElementState {
  Q_OBJECT
  Q_INTERFACES(IDockedElement)
public:
  TDockedBox(QWidget* parent, const QString& name);
  TColorBtn* Btn;
  QFrame* Panel;
  std::function<void(QWidget* sender)> FonBtnClick;

  void UpdateView() override;
  TJson GetJson() override;
  void SetJson(const TJson& value) override;
  void FillEditForm(TFormEditControl* form) override;
  void BeforeApply(TFormEditControl*, TJson&) override {}

protected:
  // The text of the editor part, and its colour and font.
  virtual QString EditorText() const = 0;
  virtual void SetEditorText(const QString& text) = 0;
  virtual QWidget* Editor() const = 0;
  void BtnClick();
  QString FShownText;  // the editor's text as UpdateView left it
};

class TDockedMemoBox : public TDockedBox {
  Q_OBJECT
public:
  TDockedMemoBox(QWidget* parent, const QString& name);
  QPlainTextEdit* Memo;

protected:
  QString EditorText() const override;
  void SetEditorText(const QString& text) override;
  QWidget* Editor() const override;
};

class TDockedHTMLEditorBox : public TDockedBox {
  Q_OBJECT
public:
  TDockedHTMLEditorBox(QWidget* parent, const QString& name);
  // The HTML source as the operator typed it: what is stored and sent is exactly its text,
  // markup and attributes included (a rich-text editor would send a whole document of its
  // own instead).
  QPlainTextEdit* HTMLedit;

protected:
  QString EditorText() const override;
  void SetEditorText(const QString& text) override;
  QWidget* Editor() const override;
};

// A channel's live stream. With play permission it plays the channel's URL ("igmp://" read as
// "udp://@"), muted as "Mute" says, with the element's name as overlay; a watchdog plays the
// address again when no position change came for a while.
class TDockedPlayer : public QWidget, public IDockedElement, public TElementState {
  Q_OBJECT
  Q_INTERFACES(IDockedElement)
public:
  TDockedPlayer(QWidget* parent, TDbFile* db, bool playEnable);
  ~TDockedPlayer() override;

  void UpdateView() override;
  TJson GetJson() override { return FloadedJson; }
  void SetJson(const TJson& value) override;
  void FillEditForm(TFormEditControl* form) override;
  void BeforeApply(TFormEditControl*, TJson&) override {}

  QFont FFont;
  QColor FFontColor;
  QTimer* FTimer;
  std::string FLastUrl;
  TPasLibVlcPlayer* Player() const { return FPlayer; }
  QWidget* VideoView() const { return FView; }
  // How often the last address was started (the first start included).
  int PlayCount() const { return FPlayCount; }
  // The overlay as last set ("" while none is shown).
  const std::string& OverlayText() const { return FOverlay; }

private:
  void PlayLast();
  void TimerFired();
  TDbFile* FDb;
  bool FPlayEnable;
  // The player: the video view's, or one of its own without a view.
  TPasLibVlcPlayer* FPlayer = nullptr;
  std::unique_ptr<TPasLibVlcPlayer> FOwnPlayer;
  QWidget* FView = nullptr;
  int FPlayCount = 0;
  std::string FOverlay;
};
