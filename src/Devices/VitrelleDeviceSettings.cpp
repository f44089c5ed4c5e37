#include "VitrelleDeviceSettings.h"

#include "Errors.h"
#include "XmlHelpers.h"

#include <QFileInfo>

namespace {
const QString RootElement = QStringLiteral("VitrelleDevice");
const QString NameElement = QStringLiteral("Name");
const QString FullScreenElement = QStringLiteral("FullScreen");
} // namespace

QString TVitrelleDeviceSettings::GetFileName() const
{
    const QString name = !FileName.isEmpty() ? FileName : Name;
    return name.isEmpty() ? QString() : ForceXmlExtension(name);
}

bool TVitrelleDeviceSettings::LoadFromFile(const QString& path)
{
    const QFileInfo file(path);
    if (!file.isFile())
        throw EFileError(QStringLiteral("Cannot find configuration file %1").arg(path));
    // The name is taken before the parse: the file is this object's from now on, even when it is broken.
    FileName = file.fileName();
    TXmlDocument document;
    if (!LoadXmlFile(document, path, QString(), nullptr))
        return false;
    const TXmlNode root = document.DocumentElement();
    if (root.IsNull() || root.Name().compare(RootElement, Qt::CaseInsensitive) != 0)
        return false;
    LoadFromXML(root, path);
    return true;
}

void TVitrelleDeviceSettings::LoadFromXML(TXmlNode element, const QString& source)
{
    Name = GetNodeValue(element, NameElement, QString());
    FDeviceInfo.LoadFromXML(element);
    FDisplayMode.LoadFromXML(element);
    FullScreen = GetNodeBoolValue(element, FullScreenElement, false);
    FControlSettings.LoadFromXML(element, source);
}

bool TVitrelleDeviceSettings::SaveToFile(const QString& path) const
{
    TXmlDocument document;
    SaveToXML(&document, document.CreateDocumentElement(RootElement));
    document.SaveToFile(path);
    return true;
}

void TVitrelleDeviceSettings::SaveToXML(TXmlDocument* document, TXmlNode element) const
{
    AddNodeValue(document, element, NameElement, Name);
    FDeviceInfo.SaveToXML(document, element);
    FDisplayMode.SaveToXML(document, element);
    AddNodeValue(document, element, FullScreenElement, BoolToText(FullScreen));
    FControlSettings.SaveToXML(document, element);
}
