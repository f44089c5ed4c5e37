#include "XvfbServer.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

bool TXvfbServer::Start(const QStringList& arguments, const QString& screen)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    FServer.setStandardOutputFile(QProcess::nullDevice());
    FServer.setStandardErrorFile(QProcess::nullDevice());
    FServer.start(QStringLiteral("Xvfb"),
                  QStringList{"-displayfd", QString::number(pipeFds[1]), "-screen", "0", screen, "+extension",
                              "RANDR", "-nolisten", "tcp", "-noreset"} +
                      arguments);
    const bool started = FServer.waitForStarted(5000);
    close(pipeFds[1]);
    QByteArray number;
    const QDeadlineTimer deadline(10000);
    pollfd ready{pipeFds[0], POLLIN, 0};
    char c = 0;
    while (started && !number.endsWith('\n') && poll(&ready, 1, int(deadline.remainingTime())) > 0 &&
           read(pipeFds[0], &c, 1) == 1)
        number += c;
    close(pipeFds[0]);
    if (!number.endsWith('\n')) {
        Stop();
        return false;
    }
    FName = ':' + number.trimmed();
    return true;
}

void TXvfbServer::Stop()
{
    if (FServer.state() != QProcess::NotRunning) {
        FServer.terminate();
        if (!FServer.waitForFinished(5000)) {
            FServer.kill();
            FServer.waitForFinished(5000);
        }
    }
}

QString TXvfbServer::Xrandr(const QStringList& arguments) const
{
    QProcess xrandr;
    xrandr.setProgram(QStringLiteral("xrandr"));
    xrandr.setArguments(QStringList{"-display", QString::fromLatin1(FName)} + arguments);
    xrandr.start();
    const bool done = xrandr.waitForFinished(10000);
    EXPECT_TRUE(done && xrandr.exitCode() == 0)
        << arguments.join(' ').toStdString() << ": " << xrandr.readAllStandardError().toStdString();
    return QString::fromLocal8Bit(xrandr.readAllStandardOutput());
}
