#pragma once

#include <QString>

#include <memory>

class IPlayRecorder;
class TVitrelleCenterAgent;

// The kiosk on the fleet's broker, as the program runs it: the link on libmosquitto and the node over the
// agent (commands reach the displays through the agent, as the operator's do). Made after the start-up when
// the settings name a broker; the settings as read at start-up count.
//
// Threads: main thread.
class TFleetService
{
public:
    virtual ~TFleetService() = default;
};

// Null when no broker is set, or (logged at level 1) when the fleet settings are refused. Takes the place of
// the installed play recorder with one that also tells the fleet of every swap, handing every record on to
// recorder; the service puts recorder back when it goes. Free it before the agent.
std::unique_ptr<TFleetService> StartFleet(TVitrelleCenterAgent& agent, const QString& applicationFolder,
                                          std::shared_ptr<IPlayRecorder> recorder,
                                          const QString& journalPath);
