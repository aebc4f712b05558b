#pragma once
// The main window: the multiple-document frame that owns the three databases.
#include <QMainWindow>
#include <QStringList>
#include <memory>

#include "recstore/JrecClasses.h"

class QMdiArea;
class QMenu;
class QAction;

class TFormPQ2 : public QMainWindow {
  Q_OBJECT
public:
  explicit TFormPQ2(QWidget* parent = nullptr);
  ~TFormPQ2() override;

  // A project file, or a MongoDB host[:port] and database name.
  void OpenFromCommandLine(const QStringList& args);
  void EnableMenu();
  TDbFile& Db() { return *DbF1; }

private:
  QAction* AddEntry(QMenu* menu, const QString& name, const QString& caption, int tag);
  void New1Click();
  void Open1Click();
  void SaveAs1Click();
  void CollectionClick(const QString& collection);

  std::unique_ptr<TDbFile> DbF1;
  std::unique_ptr<TDbFile> DbFcon;
  std::unique_ptr<TDbFile> DbTimeLine;
  QMdiArea* MdiArea = nullptr;
};
