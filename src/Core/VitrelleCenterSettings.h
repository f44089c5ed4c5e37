#pragma once

#include "ActionPeriodicity.h"
#include "FleetSettings.h"
#include "HttpSettings.h"

#include <QString>

#include <memory>

// The application settings, file VitrelleCenter.xml in the application folder: where the system keeps its
// files, how it reaches the content server, and the stored automatic-update values.
//
// The configured paths hold what was read or typed; the Get... getters compute the effective locations
// (falling back to the defaults in the application folder) and never create anything on disk.
class TVitrelleCenterSettings
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleCenterSettings"};

    explicit TVitrelleCenterSettings(QString basePath);
    ~TVitrelleCenterSettings();

    TVitrelleCenterSettings(const TVitrelleCenterSettings&) = delete;
    TVitrelleCenterSettings& operator=(const TVitrelleCenterSettings&) = delete;

    std::unique_ptr<TVitrelleCenterSettings> Clone() const;
    void Assign(const TVitrelleCenterSettings* source);
    bool Equals(const TVitrelleCenterSettings* other) const;

    // Raises EVitrelleError "Cannot find configuration file <name>" for a missing file; false, with nothing
    // changed, for a file that does not parse.
    bool LoadFromFile(const QString& fileName);
    // Atomic; the file is readable and writable by its owner only, since it holds the server password.
    bool SaveToFile(const QString& fileName) const;
    bool Load() { return LoadFromFile(GetSettingsFileName()); }
    bool Save() const { return SaveToFile(GetSettingsFileName()); }
    // Removes what a run that was killed while writing left in the folders these settings name: the
    // program's temporary files (the cache with its sub-folders) and a half-fetched vitrelle list. For
    // start-up, before anything writes there; logs what it removed.
    void RemoveLeftoverFiles() const;

    const QString& BasePath() const { return FBasePath; }
    const QString& RepositoryPath() const { return FRepositoryPath; }
    const QString& DevicePath() const { return FDevicePath; }
    const QString& TemplatePath() const { return FTemplatePath; }
    const QString& TypeFilePath() const { return FTypeFilePath; }
    const QString& VitrelleListFilePath() const { return FVitrelleListFilePath; }

    void SetRepositoryPath(const QString& value) { FRepositoryPath = value; }
    void SetDevicePath(const QString& value) { FDevicePath = value; }
    void SetTemplatePath(const QString& value) { FTemplatePath = value; }
    void SetTypeFilePath(const QString& value) { FTypeFilePath = value; }
    void SetVitrelleListFilePath(const QString& value) { FVitrelleListFilePath = value; }

    THttpSettings& HttpSettings() { return *FHttpSettings; }
    const THttpSettings& HttpSettings() const { return *FHttpSettings; }
    bool VitrelleAutoUpdate = false;
    // Origins (scheme://host[:port]) that slides may load from besides the content server's, separated by
    // white space; empty (the default): none. For a widget of another site that an operator allows.
    QString SlideAllowedOrigins;
    // Slides' videos play their sound; off (the default): every slide is muted.
    bool SlideVideoSound = false;
    TActionPeriodicity& VitrelleUpdateTime() { return *FVitrelleUpdateTime; }
    const TActionPeriodicity& VitrelleUpdateTime() const { return *FVitrelleUpdateTime; }
    // Where the metrics file goes (Prometheus text format); empty (the default): none. Read at start-up.
    QString MetricsFile;
    // The days the play journal keeps (1 to 36500; 400 by default). Read at start-up.
    static constexpr int DefaultPlayJournalDays = 400;
    int PlayJournalDays = DefaultPlayJournalDays;
    // The link to the fleet's broker (element Fleet, after the others). Read at start-up.
    TFleetSettings Fleet;

    QString GetBasePath() const;
    QString GetSettingsFileName() const;
    QString GetScheduleFileName() const;
    QString GetRepositoryPath() const;
    QString GetDevicePath() const;
    QString GetTemplatePath() const;
    QString GetVitrelleListFilePath() const;
    QString GetTypeFilePath() const;

    // Replaces the configured paths by the effective ones.
    void ExpandPaths();

    // Why the effective locations may not be used together; empty when they may. The content server's files
    // are written into the cache folder and the list file, so the cache folder may not be the application
    // folder or contain it (the settings, the schedule and its run state live there; a sub-folder of it, as
    // the default, is fine), nor be, contain or lie inside the device or template folder; the list file may
    // not lie directly in the application folder nor inside the device or template folder. Paths are
    // compared with symbolic links resolved as far as they exist. The text names both places.
    QString FolderConflict() const;

private:
    QString FBasePath;
    QString FRepositoryPath;
    QString FDevicePath;
    QString FTemplatePath;
    QString FTypeFilePath;
    QString FVitrelleListFilePath;
    std::unique_ptr<THttpSettings> FHttpSettings;
    std::unique_ptr<TActionPeriodicity> FVitrelleUpdateTime;
};
