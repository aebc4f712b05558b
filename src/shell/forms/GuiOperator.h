#pragma once
// The operator of the window application: modal message boxes on top of the active window,
// status texts in the main window's status line, records opened for fixing in their windows,
// and work handed to the user-interface thread through the event loop.
#include <QPointer>
#include <QStatusBar>
#include <QWidget>

#include "base/Operator.h"

class TGuiOperator : public IOperator {
public:
  // Status texts go to StatusBar when no window of the caller has one.
  explicit TGuiOperator(QStatusBar* statusBar = nullptr) : FStatusBar(statusBar) {}
  void SetStatusBar(QStatusBar* bar) { FStatusBar = bar; }

  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override;
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override;
  void StatusText(const std::string& text) override;
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override;
  // Queued: Fn runs on the user-interface thread once the event loop gets to it.
  void RunOnUiThread(std::function<void()> fn) override;

private:
  QPointer<QStatusBar> FStatusBar;
};
