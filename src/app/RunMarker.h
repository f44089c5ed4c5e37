#pragma once

#include <QString>

// A file in the application folder that exists while the program runs. Found at start-up, it tells that the
// previous run did not end in order: a crash, a kill, or the service manager's watchdog (the service manager
// restarts the program, but tells only its own stop commands how the previous run ended).
class TRunMarker
{
public:
    static constexpr QLatin1StringView FileName{"VitrelleCenter.running"};

    // Notes whether the marker is there, and puts it there. A folder that cannot be written to leaves no
    // marker, and the next start sees nothing.
    explicit TRunMarker(const QString& applicationFolder);
    bool PreviousRunEndedAbnormally() const { return FFound; }
    // At a clean exit.
    void Remove();

private:
    QString FPath;
    bool FFound = false;
};
