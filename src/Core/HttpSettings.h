#pragma once

#include "XmlDocument.h"

#include <QString>

// How the content server is reached: URL templates and credentials.
class THttpSettings
{
public:
    QString AuthentificationURL; // two %s: login, then password
    QString VitrelleListURL;     // used without arguments
    QString VitrelleURL;         // one %s: the vitrelle id
    QString MediaURL;            // one %s: the resource id
    QString Login;
    QString Password;             // stored in the settings file as plain text
    qint32 LoginLifetime = 86400; // seconds; never read from or written to the file

    void Assign(const THttpSettings* source);
    bool Equals(const THttpSettings* other) const;
    // Reads the child "HttpSettings" of element; false, and nothing changed, when it is missing.
    bool Load(TXmlNode element);
    bool Save(TXmlDocument* document, TXmlNode parent) const;
};
