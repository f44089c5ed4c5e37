#include "ConfigureDevices.h"

#include "VitrelleDeviceInfo.h"

TDeviceConfiguration ConfigureDevices(const QList<TDetectedDevice>& devices,
                                      const QList<TSettingsCandidate>& candidates)
{
    TDeviceConfiguration result;
    result.LogLines << QStringLiteral("Configure the display devices");
    for (const TDetectedDevice& device : devices) {
        qsizetype chosen = -1;
        int best = 0;
        QString lines;
        const QString own = QStringLiteral("DEVICE%1.xml").arg(device.Number);
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            const TSettingsCandidate& candidate = candidates[i];
            const int score = device.Info != nullptr ? device.Info->MatchScore(candidate.Info) : 0;
            const bool isOwn = candidate.FileName == own;
            if (score <= best && !isOwn)
                continue;
            chosen = i;
            lines += QStringLiteral("\r\n");
            if (score <= best) {
                lines += QStringLiteral("%1 (has priority)").arg(candidate.FileName);
                break;
            }
            lines += QStringLiteral("%1 (%2)").arg(candidate.FileName, QString::number(score));
            best = score;
        }
        if (chosen >= 0)
            result.LogLines
                << QStringLiteral("Device '%1' configuration files: %2").arg(device.DisplayName, lines);
        result.Chosen << chosen;
    }
    return result;
}
