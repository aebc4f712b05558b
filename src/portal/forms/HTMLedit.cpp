#include "portal/forms/HTMLedit.h"

#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>

#include "portal/HtmlPreview.h"

namespace {

// The browser engine refuses to start its sandbox for the superuser; it then runs without it.
void AllowEngineAsRoot() {
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

}  // namespace

THTMLEdit::THTMLEdit(QWidget* parent) : QWidget(parent) {
  AllowEngineAsRoot();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ToolBar = new QToolBar(this);
  ToolBar->setFixedHeight(29);
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  Button0 = new QToolButton(ToolBar);
  Button0->setObjectName("Button0");
  Button1 = new QToolButton(ToolBar);
  Button1->setObjectName("Button1");
  FAction0 = ToolBar->addWidget(Button0);
  FAction1 = ToolBar->addWidget(Button1);
  layout->addWidget(ToolBar);
  Memo = new QPlainTextEdit(this);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->hide();
  layout->addWidget(Memo, 1);
  WebBrowser = new QWebEngineView(this);
  layout->addWidget(WebBrowser, 1);
  SetControlName("HTMLEdit");

  connect(Button0, &QToolButton::clicked, this, [this] { Button0Click(); });
  connect(Button1, &QToolButton::clicked, this, [this] { Button1Click(); });
  connect(WebBrowser, &QWebEngineView::loadFinished, this, [this](bool) {
    // The loaded document becomes editable.
    WebBrowser->page()->runJavaScript("document.designMode = 'on';");
    FDesignMode = true;
    FLoaded = true;
    if (FState == hsVisualView) SetState(hsVisualEdit);
    emit DocumentComplete();
  });
  SetState(hsVisualEdit);
}

void THTMLEdit::SetControlName(const QString& name) {
  setObjectName(name);
  ToolBar->setObjectName(name + "_ToolBar");
  Memo->setObjectName(name + "_Memo");
  WebBrowser->setObjectName(name + "_WebBrowser");
}

void THTMLEdit::SetState(TState state) {
  FState = state;
  // A widget in a tool bar is shown and hidden through its action (the tool bar would undo a
  // change made on the widget itself).
  switch (state) {
    case hsVisualEdit:
      Button0->setText("Show HTML");
      FAction0->setVisible(true);
      Button1->setText("View");
      FAction1->setVisible(true);
      break;
    case hsVisualView:
      FAction0->setVisible(false);
      Button1->setText("Edit");
      FAction1->setVisible(true);
      break;
    case hsSource:
      Button0->setText("Visually");
      FAction0->setVisible(true);
      FAction1->setVisible(false);
      break;
  }
}

QString THTMLEdit::RunScript(const QString& script, int timeoutMs, bool* answered) {
  struct TWait {
    QEventLoop Loop;
    QString Result;
    bool Done = false;
  };
  auto wait = std::make_shared<TWait>();
  WebBrowser->page()->runJavaScript(script, [wait](const QVariant& v) {
    wait->Result = v.toString();
    wait->Done = true;
    wait->Loop.quit();
  });
  if (!wait->Done) {
    QTimer::singleShot(timeoutMs, &wait->Loop, &QEventLoop::quit);
    wait->Loop.exec();
  }
  if (answered) *answered = wait->Done;
  return wait->Result;
}

QString THTMLEdit::DesignMode() { return RunScript("document.designMode").toLower(); }

bool THTMLEdit::WaitLoaded(int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!FLoaded && t.elapsed() < timeoutMs) {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return FLoaded;
}

std::string THTMLEdit::GetText() {
  if (Memo->isHidden()) {
    if (!FHasDocument || !FLoaded) return FGivenText;
    bool answered = false;
    QString html = RunScript("document.documentElement.outerHTML", 10000, &answered);
    if (!answered) return FGivenText;
    return HtmlBodyText(html.toStdString());
  }
  return Memo->toPlainText().toStdString();
}

void THTMLEdit::LoadIntoEngine(const std::string& text) {
  std::string parent;
  std::string folder;
  QUrl base = QUrl("about:blank");
  if (!ParentHTMLFileName.empty()) {
    QFile f(QString::fromStdString(ParentHTMLFileName));
    if (f.open(QIODevice::ReadOnly)) {
      parent = f.readAll().toStdString();
      if (parent.empty()) parent = " ";  // an empty parent still gives the page its frame
      folder = QFileInfo(f).absolutePath().toStdString();
      base = QUrl::fromLocalFile(QFileInfo(f).absolutePath() + "/");
    }
  }
  std::string page;
  try {
    page = ComposePreviewPage(parent, text, folder);
  } catch (const std::exception&) {
    page = text;  // the plain body, as without a parent
  }
  FLoaded = false;
  FHasDocument = true;
  FGivenText = text;
  WebBrowser->setHtml(QString::fromStdString(page), base);
}

void THTMLEdit::SetText(const std::string& text) {
  if (FState == hsSource) {
    Memo->setPlainText(QString::fromStdString(text));
    return;
  }
  LoadIntoEngine(text);
}

void THTMLEdit::Button0Click() {
  if (!FHasDocument && FState != hsSource) return;
  if (FState == hsSource) {
    WebBrowser->show();
    Memo->hide();
    SetState(hsVisualEdit);
    LoadIntoEngine(Memo->toPlainText().toStdString());
    return;
  }
  Memo->setPlainText(QString::fromStdString(GetText()));
  WebBrowser->hide();
  Memo->show();
  SetState(hsSource);
}

void THTMLEdit::Button1Click() {
  if (!FLoaded || !Memo->isHidden()) return;
  if (DesignMode() != "on") {
    RunScript("document.designMode = 'on'; document.designMode");
    FDesignMode = true;
    SetState(hsVisualEdit);
  } else {
    RunScript("document.designMode = 'off'; document.designMode");
    FDesignMode = false;
    SetState(hsVisualView);
  }
}
