#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class TWorkQueue;

// What a display shows now, for the operator who is not in front of it: a picture of its visible slide,
// scaled down and written atomically as "<folder>/<display name>.jpg". Taken after a swap at most once per
// interval, and whenever asked. Grabbing the view is the main thread's (a few milliseconds); scaling,
// encoding and writing run on a worker of the capture's own (a picture taken while the last one is still
// being written is dropped).
class TScreenPicture
{
public:
    static constexpr QLatin1StringView LogSource{"TScreenPicture"};
    static constexpr int Width = 480;
    static constexpr std::chrono::milliseconds DefaultInterval{60000};

    // An empty folder: no pictures.
    explicit TScreenPicture(QString folder, std::chrono::milliseconds interval = DefaultInterval);
    ~TScreenPicture();
    TScreenPicture(const TScreenPicture&) = delete;
    TScreenPicture& operator=(const TScreenPicture&) = delete;

    // Main thread. Whether a swap at this moment (on the slide clock) is to be captured: the first one, and
    // then one per interval.
    bool Due(std::chrono::milliseconds now);
    // Main thread. Hands the grabbed picture over to be written for the display; nothing without a folder.
    void Write(const QString& displayName, QImage image, std::chrono::milliseconds now);

    // The file of the display's picture: a display name that is no plain file name is made one.
    static QString FileOf(const QString& folder, const QString& displayName);

private:
    const QString FFolder;
    const std::chrono::milliseconds FInterval;
    std::optional<std::chrono::milliseconds> FLast;
    std::unique_ptr<TWorkQueue> FQueue;
};
