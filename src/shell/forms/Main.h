#pragma once
// The main window: the multiple-document frame of the console. It owns the three databases,
// turns the collections of the main database into menu entries that open their windows, and
// carries the project lifecycle (new, open, save as, open MongoDB, exit).
#include <QMainWindow>
#include <QStringList>
#include <QIcon>
#include <QUrl>
#include <functional>
#include <memory>

#include "recstore/JrecClasses.h"

class QMdiArea;
class QMenu;
class QAction;
class QLabel;
class TFormDBparams;

// The file dialogs of the project lifecycle; tests put their own in place.
struct TProjectDialogs {
  // Returns the chosen file, or "" when the operator cancelled. Title "" is the default title.
  std::function<QString(QWidget* parent, const QString& title, const QString& dir)> SaveFile;
  std::function<QString(QWidget* parent, const QString& dir)> OpenFile;
  // Shows the MongoDB dialog modally; true when it closed with "Open DB".
  std::function<bool(TFormDBparams& dialog)> ExecDbParams;
  // Opens a page of the manual in the desktop browser.
  std::function<bool(const QUrl& url)> OpenUrl;
};

class TFormPQ2;
// The main window of this process (nullptr before it exists and after it is gone); other
// windows use it, for instance to rebuild the OnlineControl menu after a change of panels.
TFormPQ2* FormPQ2();

// The console's icon, drawn at the sizes window managers ask for.
QIcon AppIcon();

class TFormPQ2 : public QMainWindow {
  Q_OBJECT
public:
  // WorkDir holds "contracts.json" and "timeline.json" (the working directory by default).
  explicit TFormPQ2(QWidget* parent = nullptr, const QString& workDir = QString());
  ~TFormPQ2() override;

  // Program arguments (the program name first): a project file, or a MongoDB host[:port] and
  // database name. Failures leave the main database closed.
  void OpenFromCommandLine(const QStringList& args);
  // The title and the enabled state of every menu entry.
  void EnableMenu();
  // The OnlineControl menu: one entry per top-level panel of the "OnLineContr" tree.
  void RebuildOnlineControlMenu();
  // Asks every child window to close, first to last; false when one refused.
  bool CloseAllChildren();
  // Another program changed the project file after this console read it: offers to read it
  // again (the refused change is lost), once the change that met it has returned.
  void OfferReload(const std::string& why);

  void New1Click();
  void Open1Click();
  void SaveAs1Click();
  void OpenmongoDB1Click();
  void Options1Click();
  void Contracts1Click();
  void Places1Click();
  void TimeLine1Click();
  void CloseAll1Click() { CloseAllChildren(); }
  void About1Click();
  void Tableofcontent1Click();
  void OnLIneContrItemClk(QAction* item);

  TDbFile& Db() { return *DbF1; }
  TDbFile& DbContracts() { return *DbFcon; }
  TDbFile& DbTimeLineFile() { return *DbTimeLine; }
  QMdiArea* MdiArea() const { return FMdiArea; }
  QMenu* OnlineControlMenu() const { return Onlinecontrol2; }
  // A menu entry by its component name ("New1", "File1", ...), nullptr when none.
  QAction* MenuEntry(const QString& name) const;

  TProjectDialogs Dialogs;
  // The dialog last built by "About" (kept for inspection until the next one).
  QDialog* LastAboutBox() const { return FAboutBox; }

  // The manual's start page shipped with the program; "" when it cannot be found.
  static QString ManualPath();

protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void BuildMenus();
  QAction* AddEntry(QMenu* menu, const QString& name, const QString& caption, int tag);
  QMenu* AddMenu(const QString& name, const QString& caption, int tag);
  QAction* AddCollectionEntry(QMenu* menu, const QString& name, const char* collection);
  void AddAccessRights();
  QString ProjectsDir();
  void RememberProjectsDir(const QString& file);
  void SaveToFile();

  std::unique_ptr<TDbFile> DbF1;
  std::unique_ptr<TDbFile> DbFcon;
  std::unique_ptr<TDbFile> DbTimeLine;
  QMdiArea* FMdiArea = nullptr;
  QMenu* Onlinecontrol2 = nullptr;
  QDialog* FAboutBox = nullptr;
  QLabel* FStateLabel = nullptr;
  bool FReloadOffered = false;
  // Why the project file Path cannot be read at all; empty when it can (a newer or
  // unconvertible project is reported by its load).
  static std::string UnreadableProject(const std::string& path);
  int FCollectionHandler = 0;
};
