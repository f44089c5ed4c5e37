#pragma once

#include <QString>

// Element names of the application settings file VitrelleCenter.xml (case-sensitive).
namespace SettingsXml {
inline const QString RootElement = QStringLiteral("VitrelleCenter");
inline const QString DevicePathElement = QStringLiteral("DevicePath");
inline const QString RepositoryPathElement = QStringLiteral("RepositoryPath");
inline const QString TemplatePathElement = QStringLiteral("TemplatePath");
inline const QString VitrelleListFilePathElement = QStringLiteral("VitrelleListFilePath");
inline const QString TypeFilePathElement = QStringLiteral("TypeFilePath");
inline const QString HttpSettingsElement = QStringLiteral("HttpSettings");
inline const QString AuthentificationURLElement = QStringLiteral("AuthentificationURL");
inline const QString VitrelleListURLElement = QStringLiteral("VitrelleListURL");
inline const QString VitrelleURLElement = QStringLiteral("VitrelleURL");
inline const QString MediaURLElement = QStringLiteral("MediaURL");
inline const QString LoginElement = QStringLiteral("Login");
inline const QString PasswordElement = QStringLiteral("Password");
inline const QString VitrelleAutoUpdateElement = QStringLiteral("VitrelleAutoUpdate");
inline const QString VitrelleUpdateTimeElement = QStringLiteral("VitrelleUpdateTime");
inline const QString MetricsFileElement = QStringLiteral("MetricsFile");
inline const QString PlayJournalDaysElement = QStringLiteral("PlayJournalDays");
inline const QString SlideAllowedOriginsElement = QStringLiteral("SlideAllowedOrigins");
inline const QString SlideVideoSoundElement = QStringLiteral("SlideVideoSound");
} // namespace SettingsXml
