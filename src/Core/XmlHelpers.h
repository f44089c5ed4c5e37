#pragma once

#include "XmlDocument.h"

#include <QString>
#include <QTime>

#include <optional>

// Helpers through which every XML file of the system is read and written. Paths are XPath location paths
// relative to the node; the callers use child names joined by "/".

// Text content of the first node matching path; defaultValue when nothing matches; empty for a null node
// or an empty path.
QString GetNodeValue(TXmlNode node, const QString& path, const QString& defaultValue);
// Empty text (or no node) gives false; a number gives true when not zero; True/False in any letter case;
// any other text gives defaultValue.
bool GetNodeBoolValue(TXmlNode node, const QString& path, bool defaultValue);
// Attribute value; empty when the attribute is missing, the element null or the name empty.
QString GetAttributeValue(TXmlNode element, const QString& name);
// Sets (or replaces) an attribute; nothing for a null element or an empty name.
void SetAttributeValue(TXmlDocument* document, TXmlNode element, const QString& name, const QString& value);
// Appends an element with the text as last child of parent; nothing for a null document or parent or an
// empty name. Returns the new element (null when nothing was appended).
TXmlNode AddNodeValue(TXmlDocument* document, TXmlNode parent, const QString& name, const QString& value);

// The file name with the extension ".xml": added when there is none, kept when it is ".xml" in any letter
// case, otherwise replacing the extension.
QString ForceXmlExtension(const QString& fileName);
// Two paths name the same folder or file: a trailing separator is ignored, letter case is not (the file
// systems here are case-sensitive).
bool SamePath(const QString& a, const QString& b);
QString IncludeTrailingPathDelimiter(const QString& path);
// Equal texts when only the ASCII letters A-Z are folded (other letters compare exactly).
bool SameTextAscii(const QString& a, const QString& b);

// Values in files.
std::optional<bool> TextToBool(const QString& text);
QString BoolToText(bool value); // "-1" / "0"
std::optional<int> TextToInt(const QString& text);
// Times of day are written HH:mm:ss. Read: H:mm, HH:mm, H:mm:ss and HH:mm:ss with ":" or "." between the
// parts, and an optional AM/PM suffix (any letter case, a space before it or not).
std::optional<QTime> TextToTimeOfDay(const QString& text);
QString TimeOfDayToText(const QTime& time);
