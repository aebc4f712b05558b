#pragma once
// The films window: the catalogue of video files the servers play. Besides the record's keys
// it chooses a film's file below the video root, measures its length, saves a new film once
// its length is known, previews the file, and hands batches of files to the encoder window,
// which creates film records through AddRecords.
#include <QStringList>
#include <functional>
#include <string>

#include "JFrame/RecordForm.h"
#include "recstore/Json.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QToolButton;
class TDateTimeEdit;
class TTimeBar;
class TVideoWidget;

class TFormFilms : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormFilms(TDbFile& db, QWidget* parent = nullptr);
  ~TFormFilms() override;

  QTabWidget* PageControlFilm;
  QWidget* TabSheetVideo;  // "Videofile"
  QWidget* TabSheetDescr;  // "Description"
  QGroupBox* GroupBoxVideoFile;
  QLineEdit* EditVideoFileName;
  QPushButton* ButtonChoiseDir;
  QWidget* PanelVideo;
  TVideoWidget* PasLibVlcPlayer1;
  TTimeBar* TimeBar1;
  TDateTimeEdit* DateTimeEditDuration;
  QCheckBox* CheckBoxShowInSchedule;
  QCheckBox* CheckBoxKeepWithNext;
  QWidget* PanelButtons;
  QToolButton* BtnPlay;
  QToolButton* BitStp;
  QToolButton* BtnMute;
  QLabel* Label2;
  QPlainTextEdit* MemoDescr;
  QLineEdit* EditState;
  QLineEdit* EditCast;
  QLineEdit* EditGenres;

  bool FirstPaint = true;
  bool TrackBar1DisableOnChange = false;
  bool EnableFilmLengthChange = false;
  bool AutoSaveRecord = false;

  // The encoder's finished files: [relative file name, duration text] pairs, each added as a
  // new record beside the selection and saved.
  void AddRecords(const TJson& pairs);

  // The native video root ("" when it cannot be determined) and the shown record's file.
  std::string VideoRoot() const;
  std::string FilmPath() const;

  // The file dialogs (tests answer them): Multi for "Add movies". Returns the chosen files.
  using TFileDialog = std::function<QStringList(QWidget* parent, const QString& dir,
                                                const QString& filter, bool multi)>;
  static TFileDialog FileDialog;
  // The folder the next file dialog starts in.
  QString DialogDir;

  void ButtonChoiseDirClick();
  void BtnPlayClick();
  void BitStpClick();
  void BtnMuteClick();
  void AddMoviesClick(bool encode);
  // The player's reports.
  void PlayerLengthChanged(int64_t lengthMs);
  void PlayerPositionChanged(double position);
  void PlayerEndReached();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void JFrame1Change();
  void JFrame1NewRecordAdded(bool wasPaste);
  void JFrame1SaveRecord(bool& canDoAction);
  void TimeBar1Change(int value);
  // The "..." dialog; ForNewRecord: save once the length is known.
  void ChooseFile(bool forNewRecord);
  void PlayFile();
  void StopPlay();
  void FitVideo();
  QStringList RunDialog(const QString& filter, bool multi);
  std::string FVideoRoot;
};
