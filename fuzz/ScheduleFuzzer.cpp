// Schedule.xml: loaded into an editing copy (which keeps actions of every named source), saved and loaded
// again (the same schedule must come back), then taken over by a live scheduler whose sources are a few of
// the names the file may use, and run once at a fixed moment on this thread, without the tick worker.
#include "FuzzSupport.h"

#include "Clock.h"
#include "Errors.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "ScheduleSource.h"
#include "VitrelleScheduler.h"

#include <memory>

namespace {

class TFixedClock : public IClock
{
public:
    QDateTime Now() const override { return QDateTime(QDate(2026, 12, 7), QTime(8, 5)); }
};

// Every code from 0 to 3 is an action; every action succeeds.
class TFuzzSource : public IScheduleSource
{
public:
    explicit TFuzzSource(QString name) : FName(std::move(name)) {}
    QString GetSourceName() const override { return FName; }
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 code) override
    {
        if (code < 0 || code > 3)
            return nullptr;
        return TScheduleAction::CreateAction(this, code, 0, QTime(8, 0), false);
    }
    QString GetActionDescription(const TScheduleAction* action) const override
    {
        return action == nullptr ? QString() : action->ParamValue(QStringLiteral("vitrelleID"));
    }
    void FilterActions(TScheduleActionList&) override {}
    bool ExecuteAction(TScheduleAction* action) override { return action->Action != 3; }

private:
    QString FName;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    static TFuzzSource agent(QStringLiteral("Agent"));
    static TFuzzSource player(QStringLiteral("Player Device 1"));
    static TFuzzSource device(QStringLiteral("Device 1"));
    const QString path =
        FuzzWriteFile(QStringLiteral("Schedule.xml"),
                      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    {
        TVitrelleScheduler live(std::make_shared<TFixedClock>());
        live.RegisterSource(&agent);
        live.RegisterSource(&player);
        live.RegisterSource(&device);
        const std::unique_ptr<TVitrelleScheduler> copy = live.Clone();
        if (copy->LoadFromFile(path)) {
            const QString saved = FuzzFolder() + QStringLiteral("/Saved.xml");
            copy->SaveToFile(saved);
            const std::unique_ptr<TVitrelleScheduler> reloaded = live.Clone();
            FUZZ_CHECK(reloaded->LoadFromFile(saved), QStringLiteral("the saved schedule does not load"));
            FUZZ_CHECK(reloaded->Equals(copy.get()), QStringLiteral("the saved schedule loads different"));
            live.Assign(copy.get());
            live.Tick();
            (void)live.GetAction(QStringLiteral("Agent"), 2);
            live.Clear();
        }
    }
    FuzzResetGlobalState();
    return 0;
}
