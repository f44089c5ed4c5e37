#include "Errors.h"
#include "PlayExport.h"
#include "PlayJournal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

#ifndef VC_APPLICATION_FOLDER
#define VC_APPLICATION_FOLDER ""
#endif

namespace {

int Fail(const QString& message, int code)
{
    std::fprintf(stderr, "VitrellePlays: %s\n", message.toLocal8Bit().constData());
    return code;
}

} // namespace

// What the displays showed, from the play journal, for whoever pays for the screens: the plays as CSV or
// JSON, or their summary per hour. Reads while the program writes.
int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Exports the plays of the displays from the play journal."));
    parser.addHelpOption();
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("The application folder."),
                                    QStringLiteral("APPLICATION_FOLDER"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Plays from this day or time on (ISO 8601, local time)."),
                                  QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Plays before this time, or up to the end of this day."),
                                QStringLiteral("DATE"));
    const QCommandLineOption display(QStringLiteral("display"), QStringLiteral("Only this display."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption vitrelle(QStringLiteral("vitrelle"), QStringLiteral("Only this vitrelle."),
                                      QStringLiteral("ID"));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("csv (the default) or json."),
                                    QStringLiteral("FORMAT"), QStringLiteral("csv"));
    const QCommandLineOption hourly(
        QStringLiteral("hourly"), QStringLiteral("Plays and seconds per hour, display, vitrelle and slide."));
    const QCommandLineOption printFolder(QStringLiteral("print-application-folder"),
                                         QStringLiteral("Prints the application folder it reads and ends."));
    parser.addOptions({folder, from, to, display, vitrelle, format, hourly, printFolder});
    if (!parser.parse(application.arguments()))
        return Fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return Fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()), 2);

    TExportOptions options;
    QString applicationFolder = parser.value(folder);
    if (applicationFolder.isEmpty())
        applicationFolder = QStringLiteral(VC_APPLICATION_FOLDER);
    if (applicationFolder.isEmpty())
        applicationFolder = QCoreApplication::applicationDirPath();
    if (parser.isSet(printFolder)) {
        std::printf("%s\n", applicationFolder.toLocal8Bit().constData());
        return 0;
    }
    options.Path = QDir(applicationFolder).filePath(QString(TPlayJournal::FileName));
    for (const auto& [option, upper, bound] :
         {std::tuple{&from, false, &options.From}, std::tuple{&to, true, &options.To}}) {
        if (!parser.isSet(*option))
            continue;
        *bound = ParseExportBound(parser.value(*option), upper);
        if (!*bound)
            return Fail(QStringLiteral("'%1' is no ISO 8601 day (2026-12-08) or time (2026-12-08T14:00)")
                            .arg(parser.value(*option)),
                        2);
    }
    options.Display = parser.value(display);
    options.Vitrelle = parser.value(vitrelle);
    const QString formatName = parser.value(format).toLower();
    if (formatName != QLatin1String("csv") && formatName != QLatin1String("json"))
        return Fail(QStringLiteral("unknown format '%1': csv or json").arg(parser.value(format)), 2);
    options.Json = formatName == QLatin1String("json");
    options.Hourly = parser.isSet(hourly);

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return Fail(QStringLiteral("cannot write to the standard output"), 1);
    try {
        ExportPlays(options, out);
    } catch (const EVitrelleError& error) {
        return Fail(error.Message(), 1);
    }
    return out.error() == QFileDevice::NoError ? 0 : Fail(out.errorString(), 1);
}
