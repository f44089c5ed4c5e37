#include "ConfigureDevices.h"

#include "VitrelleDeviceInfo.h"

#include <algorithm>
#include <vector>

namespace {

// A device and a file that scores for it (or is its own).
struct TPair
{
    qsizetype Device = 0;
    qsizetype File = 0;
    int Score = 0;
    bool Own = false;
    // An own file that no earlier file beats: it comes before every other pair of the device.
    bool Priority = false;
};

bool Before(const TPair& a, const TPair& b)
{
    if (a.Priority != b.Priority)
        return a.Priority;
    if (a.Score != b.Score)
        return a.Score > b.Score;
    if (a.Own != b.Own)
        return a.Own;
    if (a.File != b.File)
        return a.File < b.File;
    return a.Device < b.Device;
}

QString OwnFileName(const TDetectedDevice& device)
{
    return QStringLiteral("DEVICE%1.xml").arg(device.Number);
}

// The files a device's search takes on the way to its choice among the allowed files: each one that beats
// the best so far, up to its own file when that is reached without beating it. Empty when the search ends
// elsewhere than at the chosen file.
QString SearchTrail(const TDetectedDevice& device, const QList<TSettingsCandidate>& candidates,
                    const std::vector<std::vector<int>>& scores, qsizetype row,
                    const std::vector<bool>& allowed, qsizetype chosen)
{
    const QString own = OwnFileName(device);
    qsizetype pick = -1;
    int best = 0;
    QString lines;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        if (!allowed[static_cast<size_t>(i)])
            continue;
        const int score = scores[static_cast<size_t>(row)][static_cast<size_t>(i)];
        const bool isOwn = candidates[i].FileName == own;
        if (score <= best && !isOwn)
            continue;
        pick = i;
        lines += QStringLiteral("\r\n");
        if (score <= best) {
            lines += QStringLiteral("%1 (has priority)").arg(candidates[i].FileName);
            break;
        }
        lines += QStringLiteral("%1 (%2)").arg(candidates[i].FileName, QString::number(score));
        best = score;
    }
    return pick == chosen ? lines : QString();
}

} // namespace

TDeviceConfiguration ConfigureDevices(const QList<TDetectedDevice>& devices,
                                      const QList<TSettingsCandidate>& candidates)
{
    TDeviceConfiguration result;
    result.LogLines << QStringLiteral("Configure the display devices");
    const size_t deviceCount = static_cast<size_t>(devices.size());
    const size_t fileCount = static_cast<size_t>(candidates.size());

    std::vector<std::vector<int>> scores(deviceCount, std::vector<int>(fileCount, 0));
    std::vector<TPair> pairs;
    for (size_t d = 0; d < deviceCount; ++d) {
        const TDetectedDevice& device = devices[static_cast<qsizetype>(d)];
        const QString own = OwnFileName(device);
        int bestBefore = 0;
        for (size_t f = 0; f < fileCount; ++f) {
            const TSettingsCandidate& candidate = candidates[static_cast<qsizetype>(f)];
            const int score = device.Info != nullptr && candidate.Info != nullptr
                                  ? device.Info->MatchScore(*candidate.Info)
                                  : 0;
            scores[d][f] = score;
            const bool isOwn = candidate.FileName == own;
            if (isOwn || score > 0)
                pairs.push_back(TPair{static_cast<qsizetype>(d), static_cast<qsizetype>(f), score, isOwn,
                                      isOwn && score <= bestBefore});
            bestBefore = std::max(bestBefore, score);
        }
    }
    std::sort(pairs.begin(), pairs.end(), Before);

    std::vector<qsizetype> chosen(deviceCount, -1);
    std::vector<qsizetype> givenTo(fileCount, -1);
    // Per file: the devices that it matches equally well, when it identifies none of them.
    std::vector<std::vector<qsizetype>> ties(fileCount);
    // Per device: why its best file was not given to it.
    std::vector<QString> missed(deviceCount);
    for (const TPair& pair : pairs) {
        const size_t d = static_cast<size_t>(pair.Device);
        const size_t f = static_cast<size_t>(pair.File);
        if (chosen[d] >= 0)
            continue;
        const TSettingsCandidate& candidate = candidates[pair.File];
        QString reason;
        if (!candidate.HeldBy.isEmpty())
            reason = QStringLiteral("taken by display '%1'").arg(candidate.HeldBy);
        else if (givenTo[f] >= 0)
            reason = QStringLiteral("taken by display '%1'").arg(devices[givenTo[f]].DisplayName);
        else {
            if (ties[f].empty() && !pair.Own)
                for (size_t other = 0; other < deviceCount; ++other)
                    if (other != d && chosen[other] < 0 && scores[other][f] == pair.Score) {
                        if (ties[f].empty())
                            ties[f].push_back(pair.Device);
                        ties[f].push_back(static_cast<qsizetype>(other));
                    }
            for (const qsizetype other : ties[f])
                if (other != pair.Device) {
                    reason = QStringLiteral("display '%1' matches it just as well")
                                 .arg(devices[other].DisplayName);
                    break;
                }
        }
        if (reason.isEmpty()) {
            chosen[d] = pair.File;
            givenTo[f] = pair.Device;
        } else if (missed[d].isEmpty())
            missed[d] = QStringLiteral("Device '%1' is not given %2 (%3): %4")
                            .arg(devices[pair.Device].DisplayName, candidate.FileName,
                                 pair.Priority ? QStringLiteral("has priority") : QString::number(pair.Score),
                                 reason);
    }

    for (size_t d = 0; d < deviceCount; ++d) {
        const TDetectedDevice& device = devices[static_cast<qsizetype>(d)];
        result.Chosen << chosen[d];
        if (chosen[d] < 0) {
            if (!missed[d].isEmpty())
                result.LogLines << missed[d];
            continue;
        }
        std::vector<bool> allowed(fileCount);
        for (size_t f = 0; f < fileCount; ++f)
            allowed[f] = candidates[static_cast<qsizetype>(f)].HeldBy.isEmpty() && ties[f].empty() &&
                         (givenTo[f] < 0 || givenTo[f] == static_cast<qsizetype>(d));
        QString lines =
            SearchTrail(device, candidates, scores, static_cast<qsizetype>(d), allowed, chosen[d]);
        if (lines.isEmpty()) {
            const size_t f = static_cast<size_t>(chosen[d]);
            lines = QStringLiteral("\r\n%1 (%2)")
                        .arg(candidates[chosen[d]].FileName, QString::number(scores[d][f]));
        }
        result.LogLines
            << QStringLiteral("Device '%1' configuration files: %2").arg(device.DisplayName, lines);
    }
    return result;
}
