#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// A private Xvfb server for one test, on a display number the server picks itself (-displayfd: it writes
// the number once it accepts connections), so that parallel suites never meet on one server. The server
// keeps its state across clients (-noreset).
class TXvfbServer
{
public:
    ~TXvfbServer() { Stop(); }

    // Extra arguments such as "-extension", "MIT-SCREEN-SAVER"; the screen as WIDTHxHEIGHTxDEPTH. False when
    // the server could not be started.
    bool Start(const QStringList& arguments = {}, const QString& screen = QStringLiteral("1280x1024x24"));
    // Terminated rather than killed, so that the server removes its socket and lock file.
    void Stop();
    // ":<number>"
    const QByteArray& Name() const { return FName; }
    qint64 ProcessId() const { return FServer.processId(); }

    // Runs xrandr on the server; a failure fails the test. Gives what it printed.
    QString Xrandr(const QStringList& arguments) const;

private:
    QProcess FServer;
    QByteArray FName;
};
