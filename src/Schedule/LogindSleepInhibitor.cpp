#include "LogindSleepInhibitor.h"

#include <QDBusConnection>
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
    std::call_once(FOnce, [this] { TakeHold(); });
}

bool TLogindSleepInhibitor::Holding() const
{
    std::lock_guard lock(FMutex);
    return FDescriptor >= 0;
}

void TLogindSleepInhibitor::TakeHold()
{
    const QString connectionName =
        QStringLiteral("VitrelleCenterInhibitor-") + QUuid::createUuid().toString();
    QDBusConnection bus = FBusAddress.isEmpty() ? QDBusConnection::systemBus()
                                                : QDBusConnection::connectToBus(FBusAddress, connectionName);
    if (!bus.isConnected())
        return; // no bus on this machine: nothing to hold
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("VitrelleCenter")
         << QStringLiteral("Displays are driven on schedule") << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const auto descriptor = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
        if (descriptor.isValid()) {
            // The reply's descriptor closes with the reply; the hold needs one of its own.
            const int own = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
            std::lock_guard lock(FMutex);
            FDescriptor = own;
        }
    }
    if (!FBusAddress.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName);
}
