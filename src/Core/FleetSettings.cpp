#include "FleetSettings.h"

#include "XmlHelpers.h"

#include <QRegularExpression>
#include <QSysInfo>

#include <utility>

namespace {

const QString FleetElement = QStringLiteral("Fleet");

// The children of <Fleet> that hold plain text, in the order they are written: after Host and Port, before
// AllowInsecure.
const std::pair<QString, QString TFleetSettings::*> TextFields[] = {
    {QStringLiteral("Site"), &TFleetSettings::Site},
    {QStringLiteral("KioskId"), &TFleetSettings::KioskId},
    {QStringLiteral("User"), &TFleetSettings::User},
    {QStringLiteral("Password"), &TFleetSettings::Password},
    {QStringLiteral("CaFile"), &TFleetSettings::CaFile},
    {QStringLiteral("CertFile"), &TFleetSettings::CertFile},
    {QStringLiteral("KeyFile"), &TFleetSettings::KeyFile}};
const QString HostElement = QStringLiteral("Host");
const QString PortElement = QStringLiteral("Port");
const QString AllowInsecureElement = QStringLiteral("AllowInsecure");

// One level of a topic: no separator, no wildcard, no NUL, not empty.
bool TopicLevel(const QString& text)
{
    static const QRegularExpression bad(QStringLiteral("[/+#\\x{0}]"));
    return !text.isEmpty() && !text.contains(bad);
}

} // namespace

bool IsLoopbackHost(const QString& host)
{
    const QString name = host.trimmed().toLower();
    if (name == QLatin1String("localhost") || name == QLatin1String("::1") || name == QLatin1String("[::1]"))
        return true;
    static const QRegularExpression ipv4Loopback(QStringLiteral("^127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    return ipv4Loopback.match(name).hasMatch();
}

QString TFleetSettings::EffectiveSite() const
{
    return Site.trimmed().isEmpty() ? DefaultSite : Site.trimmed();
}

QString TFleetSettings::EffectiveKioskId() const
{
    return KioskId.trimmed().isEmpty() ? QSysInfo::machineHostName() : KioskId.trimmed();
}

QString TFleetSettings::Problem() const
{
    if (!Enabled())
        return {};
    if (Port < 0 || Port > 65535)
        return QStringLiteral("The broker's port %1 is not a port number").arg(Port);
    if (!TopicLevel(EffectiveSite()))
        return QStringLiteral("The site '%1' cannot be part of a topic: no '/', '+' or '#'")
            .arg(EffectiveSite());
    if (!TopicLevel(EffectiveKioskId()))
        return QStringLiteral("The kiosk id '%1' cannot be part of a topic: no '/', '+' or '#'")
            .arg(EffectiveKioskId());
    if (!KeyFile.isEmpty() && CertFile.isEmpty())
        return QStringLiteral("A client key needs its client certificate");
    if (!UsesTls() && (!CertFile.isEmpty() || !KeyFile.isEmpty()))
        return QStringLiteral("A client certificate needs TLS: set the CA file of the broker");
    if (!UsesTls() && !AllowInsecure && !IsLoopbackHost(Host))
        return QStringLiteral("Plain MQTT to %1 is refused: set the CA file of the broker for TLS, or "
                              "AllowInsecure to send in the clear")
            .arg(Host.trimmed());
    return {};
}

void TFleetSettings::Load(TXmlNode element)
{
    *this = TFleetSettings();
    if (element.IsNull() || element.SelectSingleNode(FleetElement).IsNull())
        return;
    const QString prefix = FleetElement + QLatin1Char('/');
    Host = GetNodeValue(element, prefix + HostElement, QString());
    Port = TextToInt(GetNodeValue(element, prefix + PortElement, QString())).value_or(0);
    for (const auto& [name, field] : TextFields)
        this->*field = GetNodeValue(element, prefix + name, QString());
    AllowInsecure = GetNodeBoolValue(element, prefix + AllowInsecureElement, false);
}

void TFleetSettings::Save(TXmlDocument* document, TXmlNode parent) const
{
    if (document == nullptr || parent.IsNull() || *this == TFleetSettings())
        return;
    TXmlNode node = document->AppendElement(parent, FleetElement);
    AddNodeValue(document, node, HostElement, Host);
    AddNodeValue(document, node, PortElement, Port > 0 ? QString::number(Port) : QString());
    for (const auto& [name, field] : TextFields)
        AddNodeValue(document, node, name, this->*field);
    AddNodeValue(document, node, AllowInsecureElement, BoolToText(AllowInsecure));
}
