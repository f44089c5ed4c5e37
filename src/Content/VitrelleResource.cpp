#include "VitrelleResource.h"

#include "ContentXml.h"
#include "XmlHelpers.h"

bool TVitrelleResource::LoadFromNode(TXmlNode element)
{
    if (element.IsNull())
        return false;
    Id = GetAttributeValue(element, ContentXml::IdAttribute);
    const QString src = GetAttributeValue(element, ContentXml::SrcAttribute);
    if (!src.isEmpty())
        Src = src;
    return true;
}
