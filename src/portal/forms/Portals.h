#pragma once
// The portals window: portal records, each naming its start page, its default system template,
// the TV schedule template, the templates of the channel schedule and movie pages and the
// folder of custom files copied into every generated portal. "Check" renders the whole portal
// without writing anything, with its progress in the window's status bar.
#include <functional>
#include <memory>

#include "JFrame/RecordForm.h"

class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class TDataModuleDoWeb;
class TRefEdit;

class TFormPortals : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormPortals(TDbFile& db, QWidget* parent = nullptr);
  ~TFormPortals() override;

  TRefEdit* RefEditWPage;
  TRefEdit* RefEditSystemTemplate;
  TRefEdit* RefEditScheduleTemplate;
  QPlainTextEdit* MemoDescr;
  QLineEdit* EditPortalDir;
  QPushButton* BtnHTMLDir;
  QLineEdit* EditChSchedTemplate;
  QPushButton* BtnChSchedTemplate;
  QLineEdit* EditMovieDescrTemplate;
  QPushButton* BtnMovieDescrTemplate;
  QPushButton* ButtonCheck;
  QStatusBar* StatusBar1;

  // "Check": asks to save unsaved edits, then a check run of the portal. False when it did not
  // run or stopped with an error.
  bool ButtonCheckClick();
  // The custom files folder: a folder dialog, the choice stored in the project-relative form.
  void BtnHTMLDirClick();
  // The "..." of a template file box: the file dialog, then TakeTemplateFile.
  void EditSchedTemplateBtnClick(QLineEdit* edit);
  // A chosen template file for Edit: below the templates folder it is stored relative to it,
  // elsewhere it is refused with an error box. True when taken.
  bool TakeTemplateFile(QLineEdit* edit, const std::string& chosen);
  std::string TemplatesRoot();

  // Replace the dialogs (tests): the start folder in, the choice out ("" for none).
  std::function<std::string(const std::string& startDir)> ChooseFile;
  std::function<std::string(const std::string& startDir)> ChooseDir;

private:
  std::unique_ptr<TDataModuleDoWeb> FGen;
  std::string FLastDir;
};
