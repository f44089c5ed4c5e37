#include "SessionInfo.h"

bool IsRemoteSession(const QProcessEnvironment& environment)
{
    for (const char* name : {"SSH_CONNECTION", "SSH_CLIENT", "SSH_TTY", "XRDP_SESSION", "XRDP_SOCKET_PATH"})
        if (!environment.value(QString::fromLatin1(name)).isEmpty())
            return true;
    // DISPLAY is [host]:display[.screen]; an empty host or "unix" is the local server.
    const QString display = environment.value(QStringLiteral("DISPLAY"));
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    const QString host = display.left(colon);
    return host != QLatin1String("unix") && !host.startsWith(QLatin1Char('/'));
}
