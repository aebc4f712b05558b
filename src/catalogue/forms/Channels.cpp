#include "catalogue/forms/Channels.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "catalogue/Channels.h"
#include "catalogue/forms/VideoWidget.h"

namespace {
TRecordFormRegistration<TFormChannels> registration("TFormChannels");
}  // namespace

TFormChannels::TFormChannels(TDbFile& db, QWidget* parent)
    : TRecordForm(db, "Channels", "Channels", "New record", parent) {
  setObjectName("FormChannels");
  setProperty("HelpContext", 12);
  auto* recLayout = new QVBoxLayout(TabSheetRec);

  GroupBoxURL = new QGroupBox("URL", TabSheetRec);
  GroupBoxURL->setObjectName("GroupBoxURL");
  auto* urlLayout = new QHBoxLayout(GroupBoxURL);
  EditURL = new QLineEdit(GroupBoxURL);
  EditURL->setObjectName("EditURL");
  EditURL->setText(KDefaultChannelUrl);
  urlLayout->addWidget(EditURL);
  recLayout->addWidget(GroupBoxURL);

  GroupBoxDescr = DescriptionBox(TabSheetRec, EditDescr);
  recLayout->addWidget(GroupBoxDescr);

  auto* row = new QHBoxLayout;
  RadioGroupChType = new TRadioGroup(TabSheetRec);
  RadioGroupChType->setObjectName("RadioGroupChType");
  RadioGroupChType->setTitle("Type of channel");
  RadioGroupChType->SetItems({"By schedule", "Headend", "Command"});
  RadioGroupChType->SetItemIndex(0);
  row->addWidget(RadioGroupChType);
  auto* col = new QVBoxLayout;
  CheckBoxShowVideo = new QCheckBox("Show video", TabSheetRec);
  CheckBoxShowVideo->setObjectName("CheckBoxShowVideo");
  BtnMute = new QToolButton(TabSheetRec);
  BtnMute->setObjectName("BtnMute");
  BtnMute->setCheckable(true);
  BtnMute->setIcon(style()->standardIcon(QStyle::SP_MediaVolumeMuted));
  BtnMute->setToolTip("Mute");
  col->addWidget(CheckBoxShowVideo);
  col->addWidget(BtnMute);
  col->addStretch(1);
  row->addLayout(col);
  row->addStretch(1);
  recLayout->addLayout(row);

  PanelVideo = new QWidget(TabSheetRec);
  PanelVideo->setObjectName("PanelVideo");
  PanelVideo->setMinimumHeight(90);
  PasLibVlcPlayer1 = new TVideoWidget(PanelVideo);
  PasLibVlcPlayer1->setObjectName("PasLibVlcPlayer1");
  PasLibVlcPlayer1->Player().MediaOptions = {"network-caching=100"};
  PanelVideo->installEventFilter(this);
  recLayout->addWidget(PanelVideo, 1);

  connect(EditURL, &QLineEdit::textChanged, this, [this] { PlayChannel(); });
  connect(CheckBoxShowVideo, &QCheckBox::clicked, this, [this] { CheckBoxShowVideoClick(); });
  connect(BtnMute, &QToolButton::clicked, this,
          [this] { PasLibVlcPlayer1->Player().SetMute(BtnMute->isChecked()); });
  connect(RadioGroupChType, &TRadioGroup::Clicked, this, [this] { RadioGroupChTypeClick(); });
  JFrame1->OnChange = [this](TJFrame*) {
    RadioGroupChTypeClick();
    PlayChannel();
  };

  TLayerOfComps* l = JFrame1->LayerComps;
  l->AddComp("URL", EditURL, vt_String);
  l->AddComp("Description", EditDescr, vt_String);
  l->AddComp("Type", RadioGroupChType, vt_Integer);
  l->AddComp("Play", CheckBoxShowVideo);
  LoadFrame();
  RadioGroupChTypeClick();
}

TFormChannels::~TFormChannels() = default;

void TFormChannels::PlayChannel() {
  try {
    TPasLibVlcPlayer& player = PasLibVlcPlayer1->Player();
    bool show = CheckBoxShowVideo->isChecked() && CheckBoxShowVideo->isEnabled();
    bool playChannels = false;
    if (show) {
      std::optional<TJson> options = Db().CollectionByName("Options").GetRecord("Options");
      if (!options) return;
      const TJson* v = JsonPath(*options, "PlayChannels");
      playChannels = v && v->is_boolean() && v->get<bool>();
    }
    TChannelPreview p = ChannelPreview(show, playChannels, EditURL->text().toStdString(), LastUrl,
                                       player.IsPlay() || !LastUrl.empty());
    if (p.Action == TChannelPreviewAction::Play) {
      LastUrl = p.Address;
      player.Play(p.Address, 10000);
      player.SetMute(BtnMute->isChecked());
    } else if (p.Action == TChannelPreviewAction::Stop) {
      player.Stop();
      LastUrl.clear();
    }
  } catch (const std::exception&) {
    // A preview that cannot start is no reason to bother the operator.
  }
}

void TFormChannels::CheckBoxShowVideoClick() { PlayChannel(); }

void TFormChannels::RadioGroupChTypeClick() {
  bool stream = ChannelTypeHasStream(RadioGroupChType->ItemIndex());
  EditURL->setEnabled(stream);
  BtnMute->setEnabled(stream);
  CheckBoxShowVideo->setEnabled(stream);
  if (!stream) {
    CheckBoxShowVideo->setChecked(false);
    PlayChannel();
  }
  PasLibVlcPlayer1->setVisible(stream);
}

void TFormChannels::FitVideo() {
  QSize pic = TVideoWidget::FitRatio(QSize(PanelVideo->width() - 10, PanelVideo->height() - 20),
                                     TVideoWidget::KRatio169);
  PasLibVlcPlayer1->setGeometry(5, 5, pic.width(), pic.height());
}

bool TFormChannels::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PanelVideo && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
    FitVideo();
  return TRecordForm::eventFilter(watched, event);
}
