#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// A Mosquitto broker of the test's own on 127.0.0.1 and a free port, in the test's folder: plain, or TLS with
// a CA and certificates made by openssl (server and client for "localhost"), optionally with one user and its
// password. Killed (SIGKILL) and started again on the same port when asked.
class TMosquittoBroker
{
public:
    struct TOptions
    {
        bool Tls = false;
        QString User; // set: anonymous clients are refused
        QString Password;
        bool WebSockets = false;
    };
    TMosquittoBroker(const QString& folder, TOptions options);
    ~TMosquittoBroker();

    void Start();
    void Kill();
    int Port() const { return FPort; }
    int WebSocketPort() const { return FWebSocketPort; }
    QString CaFile() const;
    QString ClientCertFile() const;
    QString ClientKeyFile() const;
    // What the broker logged so far.
    QString Output();

private:
    const QString FFolder;
    const TOptions FOptions;
    int FPort = 0;
    int FWebSocketPort = 0;
    std::unique_ptr<QProcess> FProcess;
    QByteArray FOutput;
};

// A port nobody listens on now.
int FreePort();
