#pragma once

#include "XmlDocument.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

struct _xmlDoc;
struct _xsltStylesheet;

// Bounds of one transform. A stylesheet can run for ever (a template calling itself twice, forty levels deep)
// or build values without end (a string doubled forty times): a transform that passes a bound is stopped and
// fails.
struct TTransformLimits
{
    std::chrono::milliseconds MaxTime{10000};
    // What the XML libraries may hold for the transform beyond what they held when it started: its result
    // and the values it builds. The serialised page is bounded by it too.
    qint64 MaxMemory = 64LL * 1024 * 1024;
    // Monotonic time for MaxTime; the machine's steady clock when not set.
    std::function<std::chrono::milliseconds()> Clock;
    // Asked as often as the clock is read (several times a millisecond); when it holds, the transform is
    // stopped and fails, so that a worker asked to end does not wait for a long transform. Not set: never.
    std::function<bool()> Stop;
};

// The input of a transform copied out of its document, so that it can be transformed later on any thread,
// whatever happens to the document meanwhile. Made on the thread that owns the source document; afterwards
// read-only, so several transforms may read it at once.
class TXsltInput
{
public:
    // Copies the element and what it contains, with the source document's address (relative references in
    // the stylesheet resolve as from the source file). A null or non-element node gives an empty input.
    explicit TXsltInput(TXmlNode element);
    ~TXsltInput();

    TXsltInput(const TXsltInput&) = delete;
    TXsltInput& operator=(const TXsltInput&) = delete;

    bool IsNull() const { return FDoc == nullptr; }

private:
    friend class TXsltTemplate;
    _xmlDoc* FDoc = nullptr;
};

// A compiled XSL 1.0 stylesheet, shareable between threads: it is only read once compiled, and each
// transformation has its own context. Transforms may run on several threads at once.
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
    // Only on the thread that owns the element's document (it is read while the transform runs).
    bool Transform(TXmlNode element, QByteArray& output, QString& errors,
                   const TTransformLimits& limits = {}) const;
    // The same on a copied input, on any thread.
    bool Transform(const TXsltInput& input, QByteArray& output, QString& errors,
                   const TTransformLimits& limits = {}) const;

private:
    explicit TXsltTemplate(_xsltStylesheet* stylesheet) : FStylesheet(stylesheet) {}
    bool TransformNode(_xmlNode* node, QByteArray& output, QString& errors,
                       const TTransformLimits& limits) const;

    _xsltStylesheet* FStylesheet;
};
