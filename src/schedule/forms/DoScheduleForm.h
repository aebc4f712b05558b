#pragma once
// "Show schedule": the text of a built schedule (the same text the command line's
// show-schedule prints), with its options kept in the settings record "ShowSchedule".
#include <QWidget>
#include <memory>
#include <string>

#include "JFrame/ComponentToJson.h"
#include "recstore/JrecClasses.h"
#include "schedule/DoSchedule.h"

class QCheckBox;
class QPlainTextEdit;
class QPushButton;

class TFormDoSchedule : public QWidget {
  Q_OBJECT
public:
  // CustomCaption: the caption of the extra option box (hidden when empty).
  TFormDoSchedule(QWidget* Owner, TDbFile& DbfFile, const QString& CustomCaption = {});
  ~TFormDoSchedule() override;

  // The Schedules record to build, or a schedule built by the caller (shown as is).
  std::string ScheduleID;
  TSchedule* Schedule() const { return FSchedule.get(); }
  void SetSchedule(std::unique_ptr<TSchedule> sh) { FSchedule = std::move(sh); }

  QCheckBox* CheckBoxTimeLine;
  QCheckBox* CheckBoxShowSeconds;
  QCheckBox* CheckBoxShowDays;
  QCheckBox* CheckBoxShowAllFilms;
  QCheckBox* CheckBoxShowRowsFilms;
  QCheckBox* CheckBoxSaveCsv;
  QCheckBox* CheckBoxShowFilmStartTime;
  QCheckBox* CheckBoxCustomProp;
  QPushButton* ButtonDoSchedule;
  QPlainTextEdit* Memo1;

  // "Show schedule": builds (unless a schedule was given) and shows it; false when the build
  // failed.
  bool ButtonDoScheduleClick();
  TShowScheduleOptions Options() const;
  // The path of the CSV file last written ("" when none).
  const std::string& CsvPath() const { return FCsvPath; }
  // Writes the options into their settings record.
  void SaveOptions();

protected:
  void closeEvent(QCloseEvent* e) override;

private:
  void UpdateEnabled();
  TDbFile& FDb;
  std::unique_ptr<TLayerOfComps> LayerCommon;
  TLayerOfComps* LayerComps = nullptr;
  std::unique_ptr<TSchedule> FSchedule;
  std::string FCsvPath;
};
