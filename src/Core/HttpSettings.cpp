#include "HttpSettings.h"

#include "SettingsXml.h"
#include "XmlHelpers.h"

using namespace SettingsXml;

void THttpSettings::Assign(const THttpSettings* source)
{
    if (source == nullptr)
        return;
    *this = *source;
}

bool THttpSettings::Equals(const THttpSettings* other) const
{
    return other != nullptr && AuthentificationURL == other->AuthentificationURL &&
           VitrelleListURL == other->VitrelleListURL && VitrelleURL == other->VitrelleURL &&
           MediaURL == other->MediaURL && Login == other->Login && Password == other->Password &&
           LoginLifetime == other->LoginLifetime;
}

bool THttpSettings::Load(TXmlNode element)
{
    if (element.IsNull() || element.SelectSingleNode(HttpSettingsElement).IsNull())
        return false;
    const QString prefix = HttpSettingsElement + QLatin1Char('/');
    AuthentificationURL = GetNodeValue(element, prefix + AuthentificationURLElement, QString());
    VitrelleListURL = GetNodeValue(element, prefix + VitrelleListURLElement, QString());
    VitrelleURL = GetNodeValue(element, prefix + VitrelleURLElement, QString());
    MediaURL = GetNodeValue(element, prefix + MediaURLElement, QString());
    Login = GetNodeValue(element, prefix + LoginElement, QString());
    Password = GetNodeValue(element, prefix + PasswordElement, QString());
    return true;
}

bool THttpSettings::Save(TXmlDocument* document, TXmlNode parent) const
{
    if (document == nullptr || parent.IsNull())
        return false;
    TXmlNode node = document->AppendElement(parent, HttpSettingsElement);
    AddNodeValue(document, node, AuthentificationURLElement, AuthentificationURL);
    AddNodeValue(document, node, VitrelleListURLElement, VitrelleListURL);
    AddNodeValue(document, node, VitrelleURLElement, VitrelleURL);
    AddNodeValue(document, node, MediaURLElement, MediaURL);
    AddNodeValue(document, node, LoginElement, Login);
    AddNodeValue(document, node, PasswordElement, Password);
    return true;
}
