#pragma once

#include "SleepInhibitor.h"

#include <QString>

#include <mutex>

// Keeps the computer from sleeping through one logind inhibitor ("sleep:idle", mode "block") taken on the
// first call and held for the object's life: logind releases it when its file descriptor closes, so even a
// crash cannot leave the machine unable to sleep. Without a bus or without logind it does nothing.
class TLogindSleepInhibitor : public ISleepInhibitor
{
public:
    // An empty address is the system bus.
    explicit TLogindSleepInhibitor(QString busAddress = QString());
    ~TLogindSleepInhibitor() override;

    void KeepSystemAwake() override;
    bool Holding() const;

private:
    void TakeHold();

    const QString FBusAddress;
    std::once_flag FOnce;
    mutable std::mutex FMutex; // guards FDescriptor
    int FDescriptor = -1;
};
