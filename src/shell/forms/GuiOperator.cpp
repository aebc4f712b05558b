#include "shell/forms/GuiOperator.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>

#include "recstore/JrecClasses.h"
#include "JFrame/FormRegistry.h"

namespace {
QMessageBox::Icon QtIcon(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Error: return QMessageBox::Critical;
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Question: return QMessageBox::Question;
    default: return QMessageBox::NoIcon;
  }
}

// The box is owned by the active window, stays on top and comes to the front.
int ShowBox(const std::string& caption, const std::string& text, TMsgIcon icon,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  QWidget* owner = QApplication::activeWindow();
  if (!owner) owner = QApplication::activeModalWidget();
  QMessageBox box(QtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  buttons, owner);
  box.setDefaultButton(defaultButton);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.raise();
  box.activateWindow();
  return box.exec();
}

template <class F>
auto OnUiThread(F&& f) {
  // Message boxes belong to the user-interface thread; other threads wait for the answer.
  using R = decltype(f());
  if (!qApp || QThread::currentThread() == qApp->thread()) return f();
  R result{};
  QMetaObject::invokeMethod(qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
  return result;
}
}  // namespace

void TGuiOperator::MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) {
  OnUiThread([&] { return ShowBox(caption, text, icon, QMessageBox::Ok, QMessageBox::Ok); });
}

TMsgAnswer TGuiOperator::Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                             TMsgButtons buttons, TMsgAnswer safeAnswer) {
  QMessageBox::StandardButtons qb;
  switch (buttons) {
    case TMsgButtons::Ok: qb = QMessageBox::Ok; break;
    case TMsgButtons::OkCancel: qb = QMessageBox::Ok | QMessageBox::Cancel; break;
    case TMsgButtons::YesNo: qb = QMessageBox::Yes | QMessageBox::No; break;
    case TMsgButtons::YesNoCancel: qb = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
  }
  auto toQt = [](TMsgAnswer a) {
    switch (a) {
      case TMsgAnswer::Ok: return QMessageBox::Ok;
      case TMsgAnswer::Cancel: return QMessageBox::Cancel;
      case TMsgAnswer::Yes: return QMessageBox::Yes;
      default: return QMessageBox::No;
    }
  };
  int r = OnUiThread([&] { return ShowBox(caption, text, icon, qb, toQt(safeAnswer)); });
  switch (r) {
    case QMessageBox::Ok: return TMsgAnswer::Ok;
    case QMessageBox::Yes: return TMsgAnswer::Yes;
    case QMessageBox::No: return TMsgAnswer::No;
    case QMessageBox::Cancel: return TMsgAnswer::Cancel;
    default: return safeAnswer;  // the box was closed without a button
  }
}

void TGuiOperator::StatusText(const std::string& text) {
  QString t = QString::fromStdString(text);
  RunOnUiThread([this, t] {
    QStatusBar* bar = nullptr;
    if (auto* main = qobject_cast<QMainWindow*>(QApplication::activeWindow())) bar = main->statusBar();
    if (!bar) bar = FStatusBar;
    if (bar) bar->showMessage(t);
  });
}

void TGuiOperator::OpenRecord(TDbCollectionItem& coll, const std::string& id) {
  OpenRecordForFix(coll, id);
}

void TGuiOperator::RunOnUiThread(std::function<void()> fn) {
  if (!qApp) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
}
