// The test content server as a program, for trying the download path by hand (scripts/demo.sh --server):
//   TestContentServer <content folder> [port]
// The folder is laid out like a cache: VitrelleList.xml, one <id>.xml per vitrelle, a folder per slide type
// with the type's resources and a media folder. They are served as the list, the vitrelles, the templates'
// resources (/templates/<type>/<file>) and the media (/media/<file>), after a login as operator/secret.
#include "TestContentServer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>

namespace {

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <content folder> [port]\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const int port = argc > 2 ? std::atoi(argv[2]) : 8080;

    // Blocked before the server's threads exist, so that only sigwait below sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    TTestContentServer server(port);
    for (const QString& name : root.entryList({"*.xml"}, QDir::Files)) {
        const QByteArray content = Read(root.filePath(name));
        if (name == QLatin1String("VitrelleList.xml"))
            server.SetFile("/list/VitrelleList.xml", content);
        else
            server.SetFile("/vitrelles/" + name, content);
    }
    for (const QString& type : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QDirIterator files(root.filePath(type), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            const QFileInfo file(path);
            const bool typeResource = file.absolutePath() == QDir(root.filePath(type)).absolutePath();
            server.SetFile((typeResource ? "/templates/" + type + "/" : QStringLiteral("/media/")) +
                               file.fileName(),
                           Read(path));
        }
    }
    std::printf("Serving %s at %s (login operator, password secret)\n", qPrintable(root.absolutePath()),
                qPrintable(server.BaseUrl()));
    std::fflush(stdout);
    int received = 0;
    sigwait(&stop, &received);
    std::printf("%d requests served\n", server.TotalRequests());
    return 0;
}
