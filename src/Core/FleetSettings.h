#pragma once

#include "XmlDocument.h"

#include <QString>

// How this kiosk reaches the fleet's MQTT broker: element <Fleet> of VitrelleCenter.xml. A plain value; no
// Host means no link at all.
struct TFleetSettings
{
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TFleetSettings"};
    static constexpr int PlainPort = 1883;
    static constexpr int TlsPort = 8883;

    QString Host;
    int Port = 0;    // 0: PlainPort, or TlsPort with TLS
    QString Site;    // empty: DefaultSite
    QString KioskId; // empty: the host name
    QString User;
    QString Password; // stored in the settings file as plain text; never logged
    QString CaFile;   // set: TLS, the broker's certificate checked against this CA
    QString CertFile; // client certificate and key, with TLS
    QString KeyFile;
    // Plain MQTT (no CA file) to a host that is not this machine: refused unless this is set.
    bool AllowInsecure = false;

    static inline const QString DefaultSite = QStringLiteral("default");

    bool operator==(const TFleetSettings&) const = default;

    bool Enabled() const { return !Host.trimmed().isEmpty(); }
    bool UsesTls() const { return !CaFile.isEmpty(); }
    int EffectivePort() const { return Port > 0 ? Port : UsesTls() ? TlsPort : PlainPort; }
    QString EffectiveSite() const;
    QString EffectiveKioskId() const;
    // Why the link may not be started with these settings; empty when it may (or when it is off). Plain
    // MQTT to a host other than this machine without AllowInsecure, a site or kiosk id that cannot be one
    // level of a topic, a port out of range, a key without certificate.
    QString Problem() const;

    // Reads the child "Fleet" of the element; the defaults when it is missing.
    void Load(TXmlNode element);
    // Appends the element with every child in its order; nothing when the settings are the defaults, so
    // that a file without the element is written as before.
    void Save(TXmlDocument* document, TXmlNode parent) const;
};

// True for a name or address of this machine: localhost, 127.0.0.0/8, ::1.
bool IsLoopbackHost(const QString& host);
