#pragma once
// The HTML editor: a fragment of HTML (the body of a page) edited visually in an embedded
// browser engine whose document is in design mode, or as source text. Its tool bar has two
// buttons:
//
//   state                        button 0        button 1
//   visual editing               "Show HTML"     "View"
//   visual view (not editable)   hidden          "Edit"
//   source                       "Visually"      hidden
//
// The visual view shows the body inside the head of a parent template (ParentHTMLFileName), so
// the page's style sheets apply; without one the body alone is shown.
#include <QWidget>
#include <string>

class QAction;
class QPlainTextEdit;
class QToolBar;
class QToolButton;
class QWebEngineView;

class THTMLEdit : public QWidget {
  Q_OBJECT
public:
  enum TState { hsVisualEdit, hsVisualView, hsSource };

  explicit THTMLEdit(QWidget* parent = nullptr);

  // Names the control and its children (name + "_ToolBar", "_Memo", "_WebBrowser").
  void SetControlName(const QString& name);

  // The body text: in the visual states, once the document is loaded, the engine's document
  // between its first <BODY> and </BODY>, trimmed; before the engine has loaded it (or when
  // the engine does not answer) the text last given to it, never an empty stand-in; in the
  // source state the source view's text.
  std::string GetText();
  // In the source state the source view takes Text; otherwise the preview page is composed
  // and loaded into the engine (in design mode once loaded).
  void SetText(const std::string& text);

  // Button 0: visual <-> source. Button 1: design mode on <-> off.
  void Button0Click();
  void Button1Click();

  TState State() const { return FState; }
  // True once the engine has loaded the document last given to it.
  bool DocumentLoaded() const { return FLoaded; }
  // Processes events until the document is loaded (false after TimeoutMs).
  bool WaitLoaded(int timeoutMs = 20000);
  // Runs a script in the document and waits for its result (as text; "" on timeout).
  QString RunScript(const QString& script, int timeoutMs = 10000, bool* answered = nullptr);
  // The document's design mode as the engine reports it ("on" / "off").
  QString DesignMode();

  QToolBar* ToolBar;
  QToolButton* Button0;
  QToolButton* Button1;
  QPlainTextEdit* Memo;
  QWebEngineView* WebBrowser;
  // A template whose head serves the preview; empty or missing: the body alone is shown.
  std::string ParentHTMLFileName;
  bool FDesignMode = false;

signals:
  void DocumentComplete();

private:
  void SetState(TState state);
  void LoadIntoEngine(const std::string& text);
  QAction* FAction0 = nullptr;  // the tool bar's actions of Button0 and Button1
  QAction* FAction1 = nullptr;
  TState FState = hsVisualEdit;
  bool FLoaded = false;
  bool FHasDocument = false;
  std::string FGivenText;  // the body last given to the engine
};
