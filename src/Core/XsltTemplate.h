#pragma once

#include "XmlDocument.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

struct _xsltStylesheet;

// Bounds of one transform. A stylesheet can run for ever (a template calling itself twice, forty levels deep)
// or build values without end (a string doubled forty times), and rendering runs on the main thread: a
// transform that passes a bound is stopped and fails.
struct TTransformLimits
{
    std::chrono::milliseconds MaxTime{10000};
    // What the XML libraries may hold for the transform beyond what they held when it started: its result
    // and the values it builds. The serialised page is bounded by it too.
    qint64 MaxMemory = 64LL * 1024 * 1024;
    // Monotonic time for MaxTime; the machine's steady clock when not set.
    std::function<std::chrono::milliseconds()> Clock;
};

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
    // errors (empty when it gave none, or why it was stopped at a bound); output is then left as it was.
    bool Transform(TXmlNode element, QByteArray& output, QString& errors,
                   const TTransformLimits& limits = {}) const;

private:
    explicit TXsltTemplate(_xsltStylesheet* stylesheet) : FStylesheet(stylesheet) {}

    _xsltStylesheet* FStylesheet;
};
