#include "control/forms/ControlElements.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyleOptionFocusRect>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "JFrame/SharedWidgets.h"
#include "catalogue/PasLibVlcPlayer.h"
#include "control/forms/EditControl.h"
#include "recstore/JrecClasses.h"
#include "JFrame/QtText.h"

namespace {

// The colour of part I of an element object's "Colors", when there is one.
std::optional<QColor> PartColor(const TJson& value, size_t i) {
  auto it = value.find("Colors");
  if (it == value.end() || !it->is_array() || i >= it->size() || !(*it)[i].is_number()) return std::nullopt;
  return ColorOfValue(static_cast<int64_t>((*it)[i].get<double>()));
}

std::optional<TFontSpec> PartFont(const TJson& value, size_t i, const TFontSpec& base) {
  auto it = value.find("Fonts");
  if (it == value.end() || !it->is_array() || i >= it->size() || !(*it)[i].is_object()) return std::nullopt;
  return FontFromJson((*it)[i], base);
}

void ApplyFont(QWidget* w, const TFontSpec& font) {
  w->setFont(FontOfSpec(font));
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, ColorOfValue(font.Color));
  pal.setColor(QPalette::Text, ColorOfValue(font.Color));
  pal.setColor(QPalette::ButtonText, ColorOfValue(font.Color));
  w->setPalette(pal);
}

TFontSpec FontOf(const QWidget* w) {
  return SpecOfFont(w->font(), w->palette().color(QPalette::WindowText));
}

void ApplyBackground(QWidget* w, const QColor& c) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, c);
  pal.setColor(QPalette::Base, c);
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

// A panel element button: starts in the system's button shadow colour.
TColorBtn* ElementButton(QWidget* parent) {
  auto* b = new TColorBtn(parent);
  b->SetButtonColor(b->palette().color(QPalette::Dark));
  return b;
}

}  // namespace

int ElementTag(const QWidget* w) {
  if (!w) return -1;
  QVariant v = w->property("Tag");
  return v.isValid() ? v.toInt() : -1;
}

void SetElementTag(QWidget* w, int tag) { w->setProperty("Tag", tag); }

IDockedElement* AsElement(QWidget* w) { return dynamic_cast<IDockedElement*>(w); }

QColor ColorOfValue(int64_t value) {
  const uint32_t rgb = ColorValueToRgb(value);
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

int64_t ValueOfColor(const QColor& c) {
  return RgbToColorValue((uint32_t(c.red()) << 16) | (uint32_t(c.green()) << 8) | uint32_t(c.blue()));
}

QFont FontOfSpec(const TFontSpec& font) {
  QFont f;
  if (!font.Name.empty()) f.setFamily(Qs(font.Name));
  if (font.Size > 0) f.setPointSize(font.Size);
  f.setBold(font.Style & 1);
  f.setItalic(font.Style & 2);
  f.setUnderline(font.Style & 4);
  f.setStrikeOut(font.Style & 8);
  return f;
}

TFontSpec SpecOfFont(const QFont& font, const QColor& color) {
  TFontSpec s;
  s.Name = font.family().toStdString();
  s.Size = font.pointSize() > 0 ? font.pointSize() : 9;
  s.Style = (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) |
            (font.strikeOut() ? 8 : 0);
  s.Color = ValueOfColor(color);
  return s;
}

// ---------------------------------------------------------------------------------------------
// TColorBtn

TColorBtn::TColorBtn(QWidget* parent) : QPushButton(parent) {
  FButtonColor = palette().color(QPalette::Button);
  FTextColor = palette().color(QPalette::ButtonText);
}

void TColorBtn::SetButtonColor(const QColor& c) {
  FButtonColor = c;
  update();
}

void TColorBtn::SetFrame3D(bool v) {
  F3DFrame = v;
  update();
}

void TColorBtn::SetTextColor(const QColor& c) {
  FTextColor = c;
  update();
}

void TColorBtn::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QRect r = rect();
  p.fillRect(r, FButtonColor);
  const bool down = isDown();
  if (F3DFrame) {
    p.setPen(down ? FButtonColor.darker(160) : FButtonColor.lighter(160));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(down ? FButtonColor.lighter(160) : FButtonColor.darker(160));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
  } else {
    p.setPen(palette().color(down ? QPalette::Light : QPalette::Shadow));
    p.drawRect(r.adjusted(0, 0, -1, -1));
  }
  p.setFont(font());
  QRect tr = r.adjusted(4, 4, -4, -4);
  if (down) tr.translate(1, 1);
  const int flags = Qt::AlignCenter | Qt::TextWordWrap;
  if (!isEnabled()) {
    // Embossed: once in the highlight colour one pixel off, then in the shadow colour.
    p.setPen(palette().color(QPalette::Light));
    p.drawText(tr.translated(1, 1), flags, text());
    p.setPen(palette().color(QPalette::Dark));
    p.drawText(tr, flags, text());
  } else {
    p.setPen(FTextColor);
    p.drawText(tr, flags, text());
  }
  if (hasFocus()) {
    QStyleOptionFocusRect o;
    o.initFrom(this);
    o.rect = r.adjusted(4, 4, -4, -4);
    o.backgroundColor = FButtonColor;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &o, &p, this);
  }
}

void TColorBtn::mouseDoubleClickEvent(QMouseEvent* e) {
  // A double click counts as a click (Qt delivers press, release, double click, release).
  QPushButton::mousePressEvent(e);
}

// ---------------------------------------------------------------------------------------------
// TDockedBtn

TDockedBtn::TDockedBtn(QWidget* parent) : TColorBtn(parent) {
  SetButtonColor(palette().color(QPalette::Dark));
}

void TDockedBtn::UpdateView() { setText(Qs(JsonStr(FloadedJson, "Name"))); }

TJson TDockedBtn::GetJson() { return FloadedJson; }

void TDockedBtn::SetJson(const TJson& value) {
  FloadedJson = value.is_object() ? value : TJson::object();
  if (auto c = PartColor(FloadedJson, 0)) SetButtonColor(*c);
  if (auto f = PartFont(FloadedJson, 0, SpecOfFont(font(), TextColor()))) {
    setFont(FontOfSpec(*f));
    SetTextColor(ColorOfValue(f->Color));
  }
}

void TDockedBtn::FillEditForm(TFormEditControl* form) {
  const TElementKind* kind = FindElementKind(elemButton);
  form->HideBoxes(kind->HiddenBoxes);
  form->AddColor(kind->ColorParts[0], ButtonColor());
  form->AddFont(kind->FontParts[0], SpecOfFont(font(), TextColor()));
}

// ---------------------------------------------------------------------------------------------
// TDockedTrackBar

TDockedTrackBar::TDockedTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  setTickPosition(QSlider::TicksBelow);
  setRange(0, 10);
  resize(150, 45);
}

void TDockedTrackBar::FillEditForm(TFormEditControl* form) {
  form->HideBoxes(FindElementKind(elemTrackBar)->HiddenBoxes);
}

// ---------------------------------------------------------------------------------------------
// TDockedBox

TDockedBox::TDockedBox(QWidget* parent, const QString& name) : QGroupBox(parent) {
  setObjectName(name);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(4, 4, 4, 0);
  Panel = new QFrame(this);
  Panel->setObjectName(name + "_panel");
  Panel->setFrameShape(QFrame::NoFrame);
  Panel->setFixedHeight(31);
  auto* pl = new QHBoxLayout(Panel);
  pl->setContentsMargins(3, 3, 3, 3);
  Btn = ElementButton(Panel);
  Btn->setObjectName(name + "_btn");
  Btn->setText("Send text");
  Btn->setFixedHeight(25);
  pl->addWidget(Btn);
  connect(Btn, &QPushButton::clicked, this, [this] { BtnClick(); });
  resize(185, 105);
}

void TDockedBox::BtnClick() {
  if (FonBtnClick) FonBtnClick(this);
}

void TDockedBox::UpdateView() {
  setTitle(Qs(JsonStr(FloadedJson, "Name")));
  SetEditorText(Qs(ShowText(FloadedJson)));
  FShownText = EditorText();
}

TJson TDockedBox::GetJson() {
  // Only a text the operator changed is written back: an HTML editor gives its text in its own
  // form, which must not count as a change of an untouched element.
  if (EditorText() != FShownText) SetShowText(FloadedJson, EditorText().toStdString());
  return FloadedJson;
}

void TDockedBox::SetJson(const TJson& value) {
  FloadedJson = value.is_object() ? value : TJson::object();
  if (auto c = PartColor(FloadedJson, 0)) {
    ApplyBackground(this, *c);
    ApplyBackground(Panel, *c);
  }
  if (auto c = PartColor(FloadedJson, 1)) Btn->SetButtonColor(*c);
  if (auto c = PartColor(FloadedJson, 2)) ApplyBackground(Editor(), *c);
  if (auto f = PartFont(FloadedJson, 0, FontOf(this))) ApplyFont(this, *f);
  if (auto f = PartFont(FloadedJson, 1, SpecOfFont(Btn->font(), Btn->TextColor()))) {
    Btn->setFont(FontOfSpec(*f));
    Btn->SetTextColor(ColorOfValue(f->Color));
  }
  if (auto f = PartFont(FloadedJson, 2, SpecOfFont(Editor()->font(), Editor()->palette().color(QPalette::Text))))
    ApplyFont(Editor(), *f);
}

void TDockedBox::FillEditForm(TFormEditControl* form) {
  const TElementKind* kind = FindElementKind(static_cast<int>(JsonInt(FloadedJson, "Type")));
  if (!kind) kind = FindElementKind(elemText);
  form->HideBoxes(kind->HiddenBoxes);
  form->AddColor(kind->ColorParts[0], palette().color(QPalette::Window));
  form->AddColor(kind->ColorParts[1], Btn->ButtonColor());
  form->AddColor(kind->ColorParts[2], Editor()->palette().color(QPalette::Base));
  form->AddFont(kind->FontParts[0], FontOf(this));
  form->AddFont(kind->FontParts[1], SpecOfFont(Btn->font(), Btn->TextColor()));
  form->AddFont(kind->FontParts[2], SpecOfFont(Editor()->font(), Editor()->palette().color(QPalette::Text)));
}

TDockedMemoBox::TDockedMemoBox(QWidget* parent, const QString& name) : TDockedBox(parent, name) {
  Memo = new QPlainTextEdit(this);
  Memo->setObjectName(name + "_memo");
  static_cast<QVBoxLayout*>(layout())->insertWidget(0, Memo, 1);
  static_cast<QVBoxLayout*>(layout())->addWidget(Panel);
}
QString TDockedMemoBox::EditorText() const { return Memo->toPlainText(); }
void TDockedMemoBox::SetEditorText(const QString& text) { Memo->setPlainText(text); }
QWidget* TDockedMemoBox::Editor() const { return Memo; }

TDockedHTMLEditorBox::TDockedHTMLEditorBox(QWidget* parent, const QString& name)
    : TDockedBox(parent, name) {
  HTMLedit = new QPlainTextEdit(this);
  HTMLedit->setObjectName(name + "_HTMLedit");
  static_cast<QVBoxLayout*>(layout())->insertWidget(0, HTMLedit, 1);
  static_cast<QVBoxLayout*>(layout())->addWidget(Panel);
}
QString TDockedHTMLEditorBox::EditorText() const { return HTMLedit->toPlainText(); }
void TDockedHTMLEditorBox::SetEditorText(const QString& text) { HTMLedit->setPlainText(text); }
QWidget* TDockedHTMLEditorBox::Editor() const { return HTMLedit; }

// ---------------------------------------------------------------------------------------------
// TDockedPlayer

TDockedPlayer::TDockedPlayer(QWidget* parent, TDbFile* db, bool playEnable)
    : QWidget(parent), FDb(db), FPlayEnable(playEnable) {
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  FFontColor = Qt::white;
  FTimer = new QTimer(this);
  FTimer->setSingleShot(true);
  connect(FTimer, &QTimer::timeout, this, [this] { TimerFired(); });
  if (FPlayEnable) {
    if (const TVideoViewFactory& factory = VideoViewFactory()) FView = factory(this, &FPlayer);
    if (!FView || !FPlayer) {
      delete FView;
      FView = nullptr;
      FOwnPlayer = std::make_unique<TPasLibVlcPlayer>();
      FPlayer = FOwnPlayer.get();
    }
    FPlayer->OnMediaPlayerPositionChanged = [this](double) { FTimer->start(playerStallWatchdogMs); };
  }
  if (!FView) FView = new QWidget(this);
  FView->setObjectName("Video");
  FView->setMinimumSize(1, 1);
  // Black until a picture comes (and for good without play permission).
  QPalette pal = FView->palette();
  pal.setColor(QPalette::Window, Qt::black);
  FView->setPalette(pal);
  FView->setAutoFillBackground(true);
  lay->addWidget(FView);
  resize(320, 180);
}

TDockedPlayer::~TDockedPlayer() {
  FTimer->stop();
  // The view goes, and its player with it; the player drops the events still queued for it.
  if (FPlayer) FPlayer->OnMediaPlayerPositionChanged = nullptr;
  delete FView;
  FView = nullptr;
  FPlayer = nullptr;
  FOwnPlayer.reset();
}

void TDockedPlayer::SetJson(const TJson& value) {
  FloadedJson = value.is_object() ? value : TJson::object();
  if (auto f = PartFont(FloadedJson, 0, SpecOfFont(FFont, FFontColor))) {
    FFont = FontOfSpec(*f);
    FFontColor = ColorOfValue(f->Color);
  }
}

void TDockedPlayer::FillEditForm(TFormEditControl* form) {
  const TElementKind* kind = FindElementKind(elemPlayer);
  form->HideBoxes(kind->HiddenBoxes);
  form->AddFont(kind->FontParts[0], SpecOfFont(FFont, FFontColor));
}

void TDockedPlayer::UpdateView() {
  if (!FPlayEnable || !FPlayer || !FDb) return;
  const std::string channelId = ElementRefId(FloadedJson, "Channel");
  if (channelId.empty()) return;
  std::optional<TJson> channel;
  try {
    channel = FDb->get(TrefID{channelId, "Channels"});
  } catch (...) {
  }
  const std::string url = channel && channel->is_object() ? PlayerUrl(JsonStr(*channel, "URL")) : "";
  if (!url.empty() && url != FLastUrl) {
    FLastUrl = url;
    PlayLast();
    FTimer->start(playerStartWatchdogMs);
  }
  if (FLastUrl.empty()) return;
  FPlayer->SetMute(JsonBool(FloadedJson, "Mute"));
  FOverlay = JsonStr(FloadedJson, "Name");
  FPlayer->SetMarqueeText(FOverlay);
  FPlayer->SetMarqueeEnable(true);
  FPlayer->SetMarqueeColor(FFontColor.rgb() & 0xFFFFFF);
  // The overlay's text height in pixels from the font's point size (96 dots per inch).
  FPlayer->SetMarqueeSize(std::max(8, FFont.pointSize() * 4 / 3));
}

void TDockedPlayer::PlayLast() {
  ++FPlayCount;
  FPlayer->Play(FLastUrl, playerStartWaitMs);
}

void TDockedPlayer::TimerFired() {
  if (FLastUrl.empty() || !FPlayer) return;
  PlayLast();
  FTimer->start(playerStartWatchdogMs);
}
