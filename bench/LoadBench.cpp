// Loading large files, each beside a bare libxml2 parse of the same file (the floor: what reading the XML
// alone costs): a schedule of 50,000 actions, one action with 20,000 parameters, and a vitrelle of 100,000
// slides of 10,000 slide types. The ratio of a load to its bare parse is what the program adds.
#include "DiapositiveType.h"
#include "ScheduleAction.h"
#include "ScheduleSource.h"
#include "Vitrelle.h"
#include "VitrelleScheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

namespace {

constexpr int ScheduleActions = 50000;
constexpr int ScheduleSources = 100;
constexpr int ManyParameters = 20000;
constexpr int Slides = 100000;
constexpr int SlideTypes = 10000;

class TBenchSource : public IScheduleSource
{
public:
    explicit TBenchSource(QString name) : FName(std::move(name)) {}
    QString GetSourceName() const override { return FName; }
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override
    {
        return TScheduleAction::CreateAction(this, actionCode, 0, QTime(0, 0), false);
    }
    QString GetActionDescription(const TScheduleAction*) const override { return QStringLiteral("Bench"); }
    void FilterActions(TScheduleActionList&) override {}
    bool ExecuteAction(TScheduleAction*) override { return true; }

private:
    QString FName;
};

class TFixedClock : public IClock
{
public:
    QDateTime Now() const override { return QDateTime(QDate(2026, 3, 2), QTime(10, 0)); }
};

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray ActionElement(int index, const QByteArray& children)
{
    // Times spread over the day, many actions sharing a minute, sources in turn.
    const int minute = (index * 37) % (24 * 60);
    const QByteArray time = QTime(minute / 60, minute % 60).toString("HH:mm:ss").toUtf8();
    return "<ScheduleAction Source=\"Source " + QByteArray::number(index % ScheduleSources) + "\" Action=\"" +
           QByteArray::number(index % 3) + "\" Periodicity=\"" + QByteArray::number(index % 4) +
           "\" Time=\"" + time + "\" Enabled=\"-1\">" + children + "</ScheduleAction>";
}

// The files, made once.
struct TFixture
{
    TFixture()
    {
        QByteArray schedule = "<Schedule>";
        for (int i = 0; i < ScheduleActions; ++i)
            schedule += ActionElement(i, "<vitrelleID>v" + QByteArray::number(i % 500) +
                                             "</vitrelleID><diapositiveDuration>8</diapositiveDuration>");
        WriteFile(File("Schedule.xml"), schedule + "</Schedule>");

        QByteArray parameters;
        for (int i = 0; i < ManyParameters; ++i)
            parameters += "<p" + QByteArray::number(i) + ">" + QByteArray::number(i) + "</p" +
                          QByteArray::number(i) + ">";
        WriteFile(File("Parameters.xml"), "<Schedule>" + ActionElement(0, parameters) + "</Schedule>");

        QByteArray types = "<DiapositiveTypes>";
        for (int i = 0; i < SlideTypes; ++i)
            types += "<DiapositiveType><Name>Type" + QByteArray::number(i) +
                     "</Name><MediaDir>media</MediaDir></DiapositiveType>";
        WriteFile(File("Types.xml"), types + "</DiapositiveTypes>");

        // Types named in another letter case than registered, as files written by hand often are.
        QByteArray vitrelle = "<Vitrelle name=\"Big\">";
        for (int i = 0; i < Slides; ++i)
            vitrelle += "<Diapositive id=\"s" + QByteArray::number(i) + "\" type=\"type" +
                        QByteArray::number((i * 7919) % SlideTypes) + "\"><image id=\"p" +
                        QByteArray::number(i % 1000) + ".jpg\"/><Title>Slide " + QByteArray::number(i) +
                        "</Title></Diapositive>";
        WriteFile(File("Big.xml"), vitrelle + "</Vitrelle>");

        for (int i = 0; i < ScheduleSources; ++i)
            Sources.push_back(std::make_unique<TBenchSource>(QStringLiteral("Source %1").arg(i)));
    }

    QString File(const QString& name) const { return Folder.filePath(name); }

    QTemporaryDir Folder;
    std::vector<std::unique_ptr<TBenchSource>> Sources;
};

TFixture& Fixture()
{
    static TFixture fixture;
    return fixture;
}

// Read whole and parsed from memory, as the program does (the XML layer's entity loader would refuse a file
// outside its readable folders).
void BareParse(benchmark::State& state, const QString& path)
{
    for (auto _ : state) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            state.SkipWithError("cannot open");
        const QByteArray bytes = file.readAll();
        xmlDocPtr document = xmlReadMemory(bytes.constData(), static_cast<int>(bytes.size()), "bench.xml",
                                           nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS);
        if (document == nullptr)
            state.SkipWithError("parse failed");
        xmlFreeDoc(document);
    }
}

void LoadSchedule(benchmark::State& state, const QString& path, qsizetype expectedActions)
{
    TFixture& fixture = Fixture();
    TVitrelleScheduler scheduler(std::make_shared<TFixedClock>());
    for (const auto& source : fixture.Sources)
        scheduler.RegisterSource(source.get());
    for (auto _ : state) {
        if (!scheduler.LoadFromFile(path) || scheduler.ActionCount() != expectedActions)
            state.SkipWithError("load failed");
    }
    state.SetItemsProcessed(state.iterations() * expectedActions);
}

void BM_LoadSchedule50000Actions(benchmark::State& state)
{
    LoadSchedule(state, Fixture().File("Schedule.xml"), ScheduleActions);
}
BENCHMARK(BM_LoadSchedule50000Actions)->Unit(benchmark::kMillisecond);

void BM_BareParseSchedule50000Actions(benchmark::State& state)
{
    BareParse(state, Fixture().File("Schedule.xml"));
}
BENCHMARK(BM_BareParseSchedule50000Actions)->Unit(benchmark::kMillisecond);

void BM_LoadAction20000Parameters(benchmark::State& state)
{
    LoadSchedule(state, Fixture().File("Parameters.xml"), 1);
}
BENCHMARK(BM_LoadAction20000Parameters)->Unit(benchmark::kMillisecond);

void BM_BareParseAction20000Parameters(benchmark::State& state)
{
    BareParse(state, Fixture().File("Parameters.xml"));
}
BENCHMARK(BM_BareParseAction20000Parameters)->Unit(benchmark::kMillisecond);

void BM_LoadVitrelle100000Slides10000Types(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    TDiapositiveType::FreeTypes();
    if (!TDiapositiveType::LoadTypes(fixture.File("Types.xml")))
        state.SkipWithError("types not loaded");
    for (auto _ : state) {
        TVitrelle vitrelle("big", -1);
        if (!vitrelle.LoadFromFile(fixture.File("Big.xml")) || vitrelle.Diapositives().size() != Slides ||
            vitrelle.DiapositiveAt(Slides - 1)->DiapositiveType == nullptr ||
            vitrelle.UsedTypes().size() != SlideTypes)
            state.SkipWithError("load failed");
    }
    state.SetItemsProcessed(state.iterations() * Slides);
    TDiapositiveType::FreeTypes();
}
BENCHMARK(BM_LoadVitrelle100000Slides10000Types)->Unit(benchmark::kMillisecond);

void BM_BareParseVitrelle100000Slides(benchmark::State& state)
{
    BareParse(state, Fixture().File("Big.xml"));
}
BENCHMARK(BM_BareParseVitrelle100000Slides)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
