#include "ScreenPicture.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "Log.h"
#include "Paths.h"
#include "WorkQueue.h"

#include <QBuffer>
#include <QDir>

TScreenPicture::TScreenPicture(QString folder, std::chrono::milliseconds interval)
    : FFolder(std::move(folder)), FInterval(interval)
{
    if (!FFolder.isEmpty())
        FQueue = std::make_unique<TWorkQueue>(QStringLiteral("Screen pictures"));
}

TScreenPicture::~TScreenPicture() = default;

bool TScreenPicture::Due(std::chrono::milliseconds now)
{
    return FQueue && (!FLast || now - *FLast >= FInterval);
}

QString TScreenPicture::FileOf(const QString& folder, const QString& displayName)
{
    QString name;
    for (const QChar c : displayName)
        name += (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
                    ? QLatin1Char('_')
                    : c;
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("_") + name;
    return QDir(folder).filePath(name + QStringLiteral(".jpg"));
}

void TScreenPicture::Write(const QString& displayName, QImage image, std::chrono::milliseconds now)
{
    if (!FQueue || image.isNull())
        return;
    FLast = now;
    // A disk so slow that the last picture is still being written gets no queue of them.
    if (FQueue->Busy())
        return;
    const QString path = FileOf(FFolder, displayName);
    const QString folder = FFolder;
    FQueue->Post(
        [image = std::move(image), path, folder] {
            const QImage scaled =
                image.width() > Width ? image.scaledToWidth(Width, Qt::SmoothTransformation) : image;
            QByteArray jpeg;
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            if (!scaled.save(&buffer, "JPG", 80))
                throw EVitrelleError(QStringLiteral("The picture of %1 cannot be encoded").arg(path));
            ForceFolder(folder);
            TAtomicFileWriter::WriteFile(path, jpeg);
        },
        [path](std::exception_ptr error) {
            if (!error)
                return;
            try {
                std::rethrow_exception(error);
            } catch (const EVitrelleError& raised) {
                WriteLog(LogSource, 2, raised.Message());
            }
        });
}
