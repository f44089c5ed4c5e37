#include "FuzzSupport.h"

#include "ContentRandom.h"
#include "DiapositiveType.h"
#include "Log.h"
#include "XmlDocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Formats nothing further and keeps nothing: the log's own code still runs for every line.
class TDroppingSink : public IEventSink
{
public:
    void ReportEvent(const QString&, TEventType, quint16, quint32, const QString&) override {}
};

QTemporaryDir* Folder = nullptr;

} // namespace

void FuzzInitialize()
{
    static bool initialized = false;
    if (initialized)
        return;
    initialized = true;
    static int argc = 1;
    static char name[] = "VitrelleCenterFuzz";
    static char* argv[] = {name, nullptr};
    // Lives until exit: the targets never return to a main of their own.
    new QCoreApplication(argc, argv);
    InitializeXmlLibraries();
    // Saved files are synced to their disk; in memory that costs nothing, on a shared disk it slows everyone.
    const QString base =
        QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    Folder = new QTemporaryDir(base + QStringLiteral("/vc-fuzz-XXXXXX"));
    if (!Folder->isValid()) {
        std::fprintf(stderr, "Cannot create a temporary folder\n");
        std::abort();
    }
    std::atexit([] { delete Folder; });
    SetLogSinkOverride(std::make_shared<TDroppingSink>());
    InitializeLog(3);
}

QString FuzzFolder()
{
    return Folder->path();
}

QString FuzzWriteFile(const QString& relativePath, const QByteArray& bytes)
{
    const QString path = Folder->filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

void FuzzResetGlobalState()
{
    TDiapositiveType::FreeTypes();
    TDiapositiveType::SetTemplateFolder(QString());
    SetXmlReadableFolders({});
    SetRandomSource(nullptr);
    FinalizeLog();
    InitializeLog(3);
}

TFuzzParts FuzzSplit(const uint8_t* data, size_t size)
{
    const QByteArray all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype nul = all.indexOf('\0');
    if (nul < 0)
        return {all, {}};
    return {all.left(nul), all.mid(nul + 1)};
}

void FuzzFail(const char* condition, const QString& what)
{
    std::fprintf(stderr, "FUZZ_CHECK failed: %s\n  %s\n", condition, qPrintable(what));
    std::abort();
}
