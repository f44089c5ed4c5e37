#pragma once

#include "XmlDocument.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct _xsltStylesheet;

// A compiled XSL 1.0 stylesheet, shareable between threads (each transformation has its own context).
// Stylesheets may read files only inside the readable folders of the XML layer; writing files, creating
// folders and any network access are refused.
class TXsltTemplate
{
public:
    // Compiles the parsed stylesheet, taking its document over. Raises EXmlError carrying the engine's
    // message when the document is not a valid stylesheet.
    static std::shared_ptr<const TXsltTemplate> Compile(TXmlDocument& stylesheet);
    ~TXsltTemplate();

    TXsltTemplate(const TXsltTemplate&) = delete;
    TXsltTemplate& operator=(const TXsltTemplate&) = delete;

    // Transforms one element. The element is the root of the input, so that both a template matching "/" and
    // one matching the element's name apply to it. The result is serialised as the stylesheet's xsl:output
    // declares (method, encoding) and appended to output. False on failure, with the engine's messages in
    // errors (empty when it gave none); output is then left as it was.
    bool Transform(TXmlNode element, QByteArray& output, QString& errors) const;

private:
    explicit TXsltTemplate(_xsltStylesheet* stylesheet) : FStylesheet(stylesheet) {}

    _xsltStylesheet* FStylesheet;
};
