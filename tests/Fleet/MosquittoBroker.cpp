#include "MosquittoBroker.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

namespace {

void Run(const QString& folder, const QString& script)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("bash"), {QStringLiteral("-ec"), script});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

bool Listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

TMosquittoBroker::TMosquittoBroker(const QString& folder, TOptions options)
    : FFolder(folder), FOptions(std::move(options)), FPort(FreePort())
{
    QString config =
        QStringLiteral("persistence false\nlog_dest stdout\nlog_type all\nper_listener_settings false\n");
    // Run as root, the broker would become the user mosquitto, who may not read the test's folder.
    if (::geteuid() == 0)
        config += QStringLiteral("user root\n");
    // The file is written at once, standard output only in blocks.
    config +=
        QStringLiteral("log_dest file %1\n").arg(QDir(FFolder).filePath(QStringLiteral("mosquitto.log")));
    config += QStringLiteral("listener %1 127.0.0.1\n").arg(FPort);
    if (FOptions.Tls) {
        // A CA, and a server and a client certificate it signed, for localhost and 127.0.0.1.
        Run(FFolder,
            QStringLiteral(
                "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 "
                "-subj /CN=FleetTestCA 2>/dev/null\n"
                "printf 'subjectAltName=DNS:localhost,IP:127.0.0.1' > san.ext\n"
                "for n in server client; do\n"
                "  openssl req -newkey rsa:2048 -nodes -keyout $n.key -out $n.csr -subj /CN=localhost "
                "2>/dev/null\n"
                "  openssl x509 -req -in $n.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out $n.pem "
                "-days 2 -extfile san.ext 2>/dev/null\n"
                "done\n"));
        config += QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\nrequire_certificate true\n")
                      .arg(CaFile(), QDir(FFolder).filePath(QStringLiteral("server.pem")),
                           QDir(FFolder).filePath(QStringLiteral("server.key")));
    }
    if (FOptions.WebSockets) {
        FWebSocketPort = FreePort();
        config += QStringLiteral("listener %1 127.0.0.1\nprotocol websockets\n").arg(FWebSocketPort);
    }
    if (!FOptions.User.isEmpty()) {
        Run(FFolder, QStringLiteral(
                         "touch passwords && chmod 600 passwords && mosquitto_passwd -b passwords '%1' '%2'")
                         .arg(FOptions.User, FOptions.Password));
        config += QStringLiteral("allow_anonymous false\npassword_file %1\n")
                      .arg(QDir(FFolder).filePath(QStringLiteral("passwords")));
    } else {
        config += QStringLiteral("allow_anonymous true\n");
    }
    QFile file(QDir(FFolder).filePath(QStringLiteral("mosquitto.conf")));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(config.toUtf8());
    file.close();
    Start();
}

TMosquittoBroker::~TMosquittoBroker()
{
    Kill();
}

void TMosquittoBroker::Start()
{
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    FProcess->start(QStringLiteral(VC_MOSQUITTO),
                    {QStringLiteral("-c"), QDir(FFolder).filePath(QStringLiteral("mosquitto.conf"))});
    ASSERT_TRUE(FProcess->waitForStarted(10000)) << "mosquitto does not start: is it installed?";
    for (int i = 0; i < 200 && !Listening(FPort); ++i)
        QThread::msleep(25);
    ASSERT_TRUE(Listening(FPort)) << Output().toStdString();
}

void TMosquittoBroker::Kill()
{
    if (!FProcess)
        return;
    FProcess->kill();
    FProcess->waitForFinished(10000);
    FOutput += FProcess->readAll();
    FProcess.reset();
}

QString TMosquittoBroker::Output()
{
    QFile log(QDir(FFolder).filePath(QStringLiteral("mosquitto.log")));
    if (log.open(QIODevice::ReadOnly))
        return QString::fromUtf8(log.readAll());
    if (FProcess)
        FOutput += FProcess->readAll();
    return QString::fromUtf8(FOutput);
}

QString TMosquittoBroker::CaFile() const
{
    return QDir(FFolder).filePath(QStringLiteral("ca.pem"));
}

QString TMosquittoBroker::ClientCertFile() const
{
    return QDir(FFolder).filePath(QStringLiteral("client.pem"));
}

QString TMosquittoBroker::ClientKeyFile() const
{
    return QDir(FFolder).filePath(QStringLiteral("client.key"));
}
