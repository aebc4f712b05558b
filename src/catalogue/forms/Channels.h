#pragma once
// The channels window: the live channels of the head-end with their stream address, a
// description and their kind, and a preview of the stream.
#include <string>

#include "JFrame/RecordForm.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QToolButton;
class TRadioGroup;
class TVideoWidget;

class TFormChannels : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormChannels(TDbFile& db, QWidget* parent = nullptr);
  ~TFormChannels() override;

  QGroupBox* GroupBoxURL;
  QLineEdit* EditURL;
  QGroupBox* GroupBoxDescr;
  QLineEdit* EditDescr;
  TRadioGroup* RadioGroupChType;
  QCheckBox* CheckBoxShowVideo;
  QToolButton* BtnMute;
  QWidget* PanelVideo;
  TVideoWidget* PasLibVlcPlayer1;

  // The address the player was last started with ("" when the preview is stopped).
  std::string LastUrl;

  // Starts, keeps or stops the preview (a record shown, the URL changed, "Show video").
  void PlayChannel();
  void CheckBoxShowVideoClick();
  void RadioGroupChTypeClick();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FitVideo();
};
