#include "WBContainer.h"

#include <QJsonDocument>
#include <QKeyEvent>
#include <QMenu>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// The name of the script that hands the host's style sheet to each document.
const QString HostStyleScriptName = QStringLiteral("vitrelle-host-style");

void RemoveHostStyle(QWebEnginePage& page)
{
    for (const QWebEngineScript& script : page.scripts().find(HostStyleScriptName))
        page.scripts().remove(script);
}

// The style element goes in as soon as the document has its root element, before the page's first frame.
QString StyleScriptSource(const QString& css)
{
    const QString literal =
        QString::fromUtf8(QJsonDocument::fromVariant(QVariantList{css}).toJson(QJsonDocument::Compact));
    return QStringLiteral("(function (css) {"
                          "  function add() {"
                          "    var style = document.createElement('style');"
                          "    style.textContent = css;"
                          "    document.documentElement.appendChild(style);"
                          "  }"
                          "  if (document.documentElement) { add(); return; }"
                          "  new MutationObserver(function (changes, observer) {"
                          "    if (document.documentElement) { observer.disconnect(); add(); }"
                          "  }).observe(document, {childList: true});"
                          "})(%1[0]);")
        .arg(literal);
}

} // namespace

TWBContainer::TWBContainer(QWebEngineView* browser) : TNulWBContainer(browser)
{
    connect(browser, &QWidget::customContextMenuRequested, this, &TWBContainer::ShowContextMenu);
    UpdateHostInfo();
}

TWBContainer::~TWBContainer()
{
    QWebEngineView* view = HostedBrowser();
    if (view == nullptr)
        return;
    disconnect(view, nullptr, this, nullptr);
    view->setContextMenuPolicy(Qt::DefaultContextMenu);
    if (QWebEnginePage* page = view->page()) {
        page->settings()->resetAttribute(QWebEngineSettings::ShowScrollBars);
        RemoveHostStyle(*page);
    }
}

void TWBContainer::SetUseCustomCtxMenu(bool value)
{
    FUseCustomCtxMenu = value;
    UpdateHostInfo();
}

void TWBContainer::SetShowScrollBars(bool value)
{
    FShowScrollBars = value;
    UpdateHostInfo();
}

void TWBContainer::SetAllowTextSelection(bool value)
{
    FAllowTextSelection = value;
    UpdateHostInfo();
}

void TWBContainer::SetHostCSS(const QString& value)
{
    FHostCSS = value;
    UpdateHostInfo();
}

QString TWBContainer::HostStyleSheet() const
{
    if (FAllowTextSelection)
        return FHostCSS;
    return FHostCSS +
           QStringLiteral("\n* { user-select: none !important; -webkit-user-select: none !important; }");
}

void TWBContainer::UpdateHostInfo()
{
    QWebEngineView* view = HostedBrowser();
    if (view == nullptr)
        return;
    // A custom policy makes the view emit customContextMenuRequested; it never builds the engine's menu then.
    view->setContextMenuPolicy(FUseCustomCtxMenu ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
    QWebEnginePage* page = view->page();
    page->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, FShowScrollBars);
    RemoveHostStyle(*page);
    const QString css = HostStyleSheet();
    if (css.isEmpty())
        return;
    QWebEngineScript script;
    script.setName(HostStyleScriptName);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(StyleScriptSource(css));
    page->scripts().insert(script);
}

void TWBContainer::TranslateAccelerator(const QKeyEvent& event)
{
    if (OnKeyDown)
        OnKeyDown(event.key());
}

void TWBContainer::ShowContextMenu(const QPoint& position)
{
    QWebEngineView* view = HostedBrowser();
    if (!FUseCustomCtxMenu || view == nullptr)
        return;
    const QPoint globalPos = view->mapToGlobal(position);
    if (OnContextMenu)
        OnContextMenu(globalPos);
    if (PopupMenu)
        PopupMenu->popup(globalPos);
}
