#pragma once

#include <QString>

// Element and attribute names of the vitrelle list, vitrelle and slide types files. Element names of the
// list and vitrelle files compare ignoring ASCII case; attribute names and the types file's paths are exact.
namespace ContentXml {
inline const QString VitrellesElement = QStringLiteral("Vitrelles");
inline const QString VitrelleElement = QStringLiteral("Vitrelle");
inline const QString DiapositiveElement = QStringLiteral("Diapositive");
inline const QString SequenceElement = QStringLiteral("Sequence");
inline const QString PlayDiapositiveElement = QStringLiteral("playDiapositive");
inline const QString PlayVitrelleElement = QStringLiteral("playVitrelle");

inline const QString IdAttribute = QStringLiteral("id");
inline const QString NameAttribute = QStringLiteral("name");
inline const QString TypeAttribute = QStringLiteral("type");
inline const QString SrcAttribute = QStringLiteral("src");
inline const QString XmlAttribute = QStringLiteral("xml");
inline const QString DurationAttribute = QStringLiteral("duration");
inline const QString NbDiapositiveAttribute = QStringLiteral("nbDiapositive");
inline const QString OrderAttribute = QStringLiteral("order");
inline const QString RandomOrder = QStringLiteral("random");

inline const QString TypesPath = QStringLiteral("/DiapositiveTypes/DiapositiveType");
inline const QString TypeNamePath = QStringLiteral("./Name");
inline const QString TypeURLPath = QStringLiteral("./URL");
inline const QString TypeMediaMarkPath = QStringLiteral("./MediaMark");
inline const QString TypeMediaURLPath = QStringLiteral("./MediaURL");
inline const QString TypeMediaDirPath = QStringLiteral("./MediaDir");
inline const QString ResourceElement = QStringLiteral("Resource");
} // namespace ContentXml
