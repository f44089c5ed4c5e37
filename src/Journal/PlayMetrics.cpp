#include "PlayMetrics.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "Log.h"

namespace {

// A label value as the text format wants it: backslash, double quote and line feed escaped.
QByteArray Label(const QString& value)
{
    QByteArray escaped;
    for (const char c : value.toUtf8()) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

QByteArray Number(qint64 value)
{
    return QByteArray::number(value);
}

QByteArray Seconds(qint64 ms)
{
    return QByteArray::number(static_cast<double>(ms) / 1000.0, 'f', 3);
}

void Family(QByteArray& text, const char* name, const char* type, const char* help)
{
    text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

} // namespace

TPlayMetrics::TPlayMetrics(QDateTime started, qint64 crashRestarts)
    : FStarted(std::move(started)), FCrashRestarts(crashRestarts)
{
}

void TPlayMetrics::Observe(const TJournalRecord& record)
{
    std::lock_guard lock(FMutex);
    if (const auto* play = std::get_if<TPlayRecord>(&record)) {
        TDisplay& display = FDisplays[play->Display.Name];
        ++display.Shown;
        // The swap that took it away, or the one that showed it when it is still the last known.
        const qint64 appeared = play->Appeared.toMSecsSinceEpoch();
        display.LastSwapMs =
            std::max(display.LastSwapMs,
                     play->Ended == QLatin1String("next") ? appeared + play->DurationMs : appeared);
    } else if (const auto* miss = std::get_if<TMissRecord>(&record)) {
        ++FDisplays[miss->Display.Name].Skipped;
    } else if (const auto* power = std::get_if<TPowerRecord>(&record)) {
        TDisplay& display = FDisplays[power->Display.Name];
        if (power->Succeeded)
            display.Power = power->On ? 1 : 0;
        else
            ++display.SerialFailures;
    } else if (const auto* state = std::get_if<TStateRecord>(&record)) {
        TDisplay& display = FDisplays[state->Display];
        if (state->Playing)
            display.Playing = *state->Playing;
        if (state->Power)
            display.Power = *state->Power < 0 ? -1 : (*state->Power > 0 ? 1 : 0);
    } else if (const auto* update = std::get_if<TUpdateRecord>(&record)) {
        TVitrelle& vitrelle = FVitrelles[update->VitrelleId];
        if (update->Succeeded) {
            ++vitrelle.Succeeded;
            vitrelle.LastSuccessMs = std::max(vitrelle.LastSuccessMs, update->When.toMSecsSinceEpoch());
        } else {
            ++vitrelle.Failed;
        }
    }
}

void TPlayMetrics::SetPlaying(const QString& display, bool playing)
{
    std::lock_guard lock(FMutex);
    FDisplays[display].Playing = playing;
}

void TPlayMetrics::SetPowerState(const QString& display, int on)
{
    std::lock_guard lock(FMutex);
    FDisplays[display].Power = on < 0 ? -1 : (on > 0 ? 1 : 0);
}

QByteArray TPlayMetrics::Text() const
{
    std::lock_guard lock(FMutex);
    QByteArray text;
    const auto perDisplay = [&](const char* name, const char* type, const char* help, auto value) {
        Family(text, name, type, help);
        for (const auto& [display, figures] : FDisplays)
            text += QByteArray(name) + "{display=\"" + Label(display) + "\"} " + value(figures) + '\n';
    };
    perDisplay("vitrelle_display_power_state", "gauge", "Power state as last known: 1 on, 0 off, -1 unknown.",
               [](const TDisplay& d) { return Number(d.Power); });
    perDisplay("vitrelle_display_playing", "gauge", "1 while the display plays a vitrelle.",
               [](const TDisplay& d) { return Number(d.Playing ? 1 : 0); });
    perDisplay("vitrelle_slides_shown_total", "counter", "Slides that were on screen.",
               [](const TDisplay& d) { return Number(d.Shown); });
    perDisplay("vitrelle_slides_skipped_total", "counter",
               "Slides that were due and never reached the screen.",
               [](const TDisplay& d) { return Number(d.Skipped); });
    perDisplay("vitrelle_display_last_swap_timestamp_seconds", "gauge",
               "When the display last changed slides.",
               [](const TDisplay& d) { return Seconds(d.LastSwapMs); });
    perDisplay("vitrelle_serial_exchanges_failed_total", "counter",
               "Power commands whose serial exchange failed.",
               [](const TDisplay& d) { return Number(d.SerialFailures); });

    Family(text, "vitrelle_updates_total", "counter", "Updates of a vitrelle by outcome.");
    for (const auto& [id, figures] : FVitrelles)
        text += "vitrelle_updates_total{vitrelle=\"" + Label(id) + "\",outcome=\"succeeded\"} " +
                Number(figures.Succeeded) + "\nvitrelle_updates_total{vitrelle=\"" + Label(id) +
                "\",outcome=\"failed\"} " + Number(figures.Failed) + '\n';
    Family(text, "vitrelle_last_successful_update_timestamp_seconds", "gauge",
           "When a vitrelle was last updated.");
    for (const auto& [id, figures] : FVitrelles)
        if (figures.LastSuccessMs > 0)
            text += "vitrelle_last_successful_update_timestamp_seconds{vitrelle=\"" + Label(id) + "\"} " +
                    Seconds(figures.LastSuccessMs) + '\n';

    Family(text, "vitrelle_start_time_seconds", "gauge", "When the program started.");
    text += "vitrelle_start_time_seconds " + Seconds(FStarted.toMSecsSinceEpoch()) + '\n';
    Family(text, "vitrelle_crash_restarts_total", "counter",
           "Starts that followed a run that did not end in order.");
    text += "vitrelle_crash_restarts_total " + Number(FCrashRestarts) + '\n';
    return text;
}

TMetricsFileWriter::TMetricsFileWriter(const TPlayMetrics& metrics, QString path,
                                       std::chrono::milliseconds period)
    : FMetrics(metrics), FPath(std::move(path)), FPeriod(period)
{
    FWorker = std::thread([this] { Run(); });
}

TMetricsFileWriter::~TMetricsFileWriter()
{
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    FWorker.join();
}

void TMetricsFileWriter::Run()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        lock.unlock();
        WriteNow();
        lock.lock();
        if (FStopping)
            return;
        FWake.wait_for(lock, FPeriod, [this] { return FStopping; });
    }
}

void TMetricsFileWriter::WriteNow()
{
    try {
        // Readable by the collector, which runs as another user.
        TAtomicFileWriter::WriteFile(FPath, FMetrics.Text());
        if (FFailing)
            WriteLog(LogSource, 3, QStringLiteral("The metrics file %1 is written again").arg(FPath));
        FFailing = false;
    } catch (const EVitrelleError& error) {
        if (!FFailing)
            WriteLog(LogSource, 2,
                     QStringLiteral("The metrics file %1 cannot be written: %2").arg(FPath, error.Message()));
        FFailing = true;
    }
}
