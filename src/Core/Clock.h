#pragma once

#include <QDateTime>

// Local wall-clock time, injectable where behaviour depends on it, so that tests choose the moment.
class IClock
{
public:
    virtual ~IClock() = default;
    virtual QDateTime Now() const = 0;
};

class TSystemClock : public IClock
{
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};
