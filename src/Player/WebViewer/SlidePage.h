#pragma once

#include <QWebEnginePage>

#include <functional>

// A web page for a screen nobody operates: whatever its script does, the page stays what the program loaded.
// No JavaScript dialog opens (alert returns at once, confirm answers false, prompt is cancelled), console
// messages and script errors go nowhere, no window opens, no file chooser, no permission (camera, microphone,
// location, notifications, ...) is granted, and the main frame goes only where the program sends it: link
// clicks, form posts, script location changes and history moves of the slide are refused, while the slide's
// own frames load freely. The background is black and the page stays in the active lifecycle state. Main
// thread only.
class TSlidePage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit TSlidePage(QWebEngineProfile* profile, QObject* parent = nullptr);

    // Stops a load still running, then loads the url: the one kind of main-frame navigation the page accepts.
    void LoadSlide(const QUrl& url);
    // Asks the current document to report once it has painted a frame: requestAnimationFrame round trips,
    // run in the program's own script world, which the document's scripts cannot see or disturb. OnPainted
    // gets the token back.
    void ProbePainted(const QString& token);
    std::function<void(const QString& token)> OnPainted;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;
};
