#pragma once

#include "SleepInhibitor.h"

#include <QString>

#include <mutex>

// Keeps the computer from sleeping through one logind inhibitor ("sleep:idle", mode "block") held for the
// object's life: logind releases it when its file descriptor closes, so even a crash cannot leave the
// machine unable to sleep. Until a hold is taken every call tries again (at boot the bus or logind may not
// be up yet at the first tick); the first failure is logged at level 2, later ones are not.
class TLogindSleepInhibitor : public ISleepInhibitor
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TLogindSleepInhibitor"};

    // An empty address is the system bus.
    explicit TLogindSleepInhibitor(QString busAddress = QString());
    ~TLogindSleepInhibitor() override;

    void KeepSystemAwake() override;
    bool Holding() const;

private:
    // The reason of a failure; empty when the hold was taken.
    QString TakeHold();

    const QString FBusAddress;
    std::mutex FAttemptMutex;  // one attempt at a time; guards FFailed
    bool FFailed = false;      // an attempt has failed and was logged
    mutable std::mutex FMutex; // guards FDescriptor
    int FDescriptor = -1;
};
