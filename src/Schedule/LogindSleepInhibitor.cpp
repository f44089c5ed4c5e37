#include "LogindSleepInhibitor.h"

#include "Log.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QUuid>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int CallTimeoutMs = 5000;
} // namespace

TLogindSleepInhibitor::TLogindSleepInhibitor(QString busAddress) : FBusAddress(std::move(busAddress)) {}

TLogindSleepInhibitor::~TLogindSleepInhibitor()
{
    std::lock_guard lock(FMutex);
    if (FDescriptor >= 0)
        ::close(FDescriptor);
}

void TLogindSleepInhibitor::KeepSystemAwake()
{
    std::lock_guard attempt(FAttemptMutex);
    if (Holding())
        return;
    const QString failure = TakeHold();
    if (failure.isEmpty()) {
        if (FFailed)
            WriteLog(TLogindSleepInhibitor::LogSource, 3, QStringLiteral("The computer is now kept awake"));
        return;
    }
    if (!FFailed)
        WriteLog(TLogindSleepInhibitor::LogSource, 2,
                 QStringLiteral("Cannot keep the computer awake yet (%1); trying again at every tick")
                     .arg(failure));
    FFailed = true;
}

bool TLogindSleepInhibitor::Holding() const
{
    std::lock_guard lock(FMutex);
    return FDescriptor >= 0;
}

QString TLogindSleepInhibitor::TakeHold()
{
    // A connection of its own for every attempt: the shared system bus connection, once it has failed, never
    // connects again. The hold is the descriptor, which outlives the connection.
    const QString connectionName =
        QStringLiteral("VitrelleCenterInhibitor-") + QUuid::createUuid().toString();
    QDBusConnection bus = FBusAddress.isEmpty()
                              ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName)
                              : QDBusConnection::connectToBus(FBusAddress, connectionName);
    QString failure;
    if (!bus.isConnected()) {
        failure = QStringLiteral("the bus cannot be reached: %1").arg(bus.lastError().message());
    } else {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << QStringLiteral("VitrelleCenter")
             << QStringLiteral("Displays are driven on schedule") << QStringLiteral("block");
        const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
        const auto descriptor = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                                    ? qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst())
                                    : QDBusUnixFileDescriptor();
        // The reply's descriptor closes with the reply; the hold needs one of its own.
        const int own = descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
        if (own >= 0) {
            std::lock_guard lock(FMutex);
            FDescriptor = own;
        } else if (reply.type() == QDBusMessage::ErrorMessage) {
            failure = QStringLiteral("logind: %1").arg(reply.errorMessage());
        } else {
            failure = QStringLiteral("logind handed out no inhibitor");
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return failure;
}
