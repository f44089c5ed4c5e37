#include "XsltTemplate.h"

#include "Errors.h"
#include "XsltSetup.h"

#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxslt/extensions.h>
#include <libxslt/extra.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <libxml/xmlmemory.h>

#include <malloc.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

xsltSecurityPrefsPtr SecurityPrefs = nullptr;

// ---- what the XML libraries hold, per thread ----
// Their allocations go through these, which count the bytes held by allocations made on the thread: a
// transform's memory is what this count grew by since it started. Blocks are the C library's own.
thread_local qint64 XmlBytesHeld = 0;

void* CountedMalloc(size_t size)
{
    void* block = std::malloc(size);
    if (block != nullptr)
        XmlBytesHeld += static_cast<qint64>(malloc_usable_size(block));
    return block;
}

void* CountedRealloc(void* block, size_t size)
{
    const qint64 before = block != nullptr ? static_cast<qint64>(malloc_usable_size(block)) : 0;
    void* grown = std::realloc(block, size);
    if (grown != nullptr)
        XmlBytesHeld += static_cast<qint64>(malloc_usable_size(grown)) - before;
    return grown;
}

void CountedFree(void* block)
{
    if (block == nullptr)
        return;
    XmlBytesHeld -= static_cast<qint64>(malloc_usable_size(block));
    std::free(block);
}

char* CountedStrdup(const char* text)
{
    const size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(CountedMalloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

// The bounds of the transform under way, reached through its context. libxslt calls the check before each
// instruction it runs (its debugger hook, switched on for the transform's context only).
struct TRunningTransform
{
    const TTransformLimits* Limits;
    qint64 BytesAtStart;
    std::chrono::milliseconds Deadline;
    unsigned Steps = 0;
    QString Stopped{}; // why the transform was stopped
};

std::chrono::milliseconds Now(const TTransformLimits& limits)
{
    if (limits.Clock)
        return limits.Clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

void CheckBounds(xmlNodePtr, xmlNodePtr, xsltTemplatePtr, xsltTransformContextPtr context)
{
    auto* running = context != nullptr ? static_cast<TRunningTransform*>(context->_private) : nullptr;
    if (running == nullptr || context->state == XSLT_STATE_STOPPED)
        return;
    const qint64 held = XmlBytesHeld - running->BytesAtStart;
    if (running->Limits->MaxMemory > 0 && held > running->Limits->MaxMemory) {
        running->Stopped = QStringLiteral("The transform was stopped: it took more than %1 bytes of memory")
                               .arg(running->Limits->MaxMemory);
        context->state = XSLT_STATE_STOPPED;
        return;
    }
    // The clock is read every so many steps: a step is far shorter than reading it.
    if (++running->Steps % 64 != 0)
        return;
    if (running->Limits->MaxTime.count() > 0 && Now(*running->Limits) > running->Deadline) {
        running->Stopped = QStringLiteral("The transform was stopped: it ran longer than %1 ms")
                               .arg(running->Limits->MaxTime.count());
        context->state = XSLT_STATE_STOPPED;
    } else if (running->Limits->Stop && running->Limits->Stop()) {
        running->Stopped = QStringLiteral("The transform was stopped: its work was abandoned");
        context->state = XSLT_STATE_STOPPED;
    }
}

int NoCall(xsltTemplatePtr, xmlNodePtr)
{
    return 0;
}

void NoDrop() {}

// The layout libxslt expects of xsltSetDebuggerCallbacks' block.
struct TDebuggerCallbacks
{
    xsltHandleDebuggerCallback Handler;
    xsltAddCallCallback Add;
    xsltDropCallCallback Drop;
};
std::mutex CompileMutex; // one stylesheet compiled at a time

int CheckRead(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char* value)
{
    if (value == nullptr)
        return 0;
    const QString text = QString::fromUtf8(value);
    const QString path = text.startsWith(QLatin1String("file://")) ? text.mid(7) : text;
    return IsXmlReadablePath(path) ? 1 : 0;
}

class TErrorCollector;
// The collector alive on this thread, for libxslt's generic error handler: that one is process-wide, so it
// is set once and hands each message to the collector of the thread that reports it.
thread_local TErrorCollector* CurrentCollector = nullptr;

// Collects the messages that libxml2 and libxslt report while it is alive, on this thread (libxml2's handlers
// are per thread).
class TErrorCollector
{
public:
    TErrorCollector() : FPrevious(CurrentCollector)
    {
        xmlSetGenericErrorFunc(this, &TErrorCollector::Generic);
        xmlSetStructuredErrorFunc(this, &TErrorCollector::Structured);
        CurrentCollector = this;
    }
    ~TErrorCollector()
    {
        CurrentCollector = FPrevious;
        xmlSetGenericErrorFunc(nullptr, nullptr);
        xmlSetStructuredErrorFunc(nullptr, nullptr);
    }
    TErrorCollector(const TErrorCollector&) = delete;
    TErrorCollector& operator=(const TErrorCollector&) = delete;

    // libxslt's process-wide handler.
    static void ThreadGeneric(void*, const char* format, ...)
    {
        char buffer[1024];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(buffer, sizeof buffer, format, arguments);
        va_end(arguments);
        if (CurrentCollector != nullptr)
            CurrentCollector->FText += QString::fromUtf8(buffer);
        else
            std::fputs(buffer, stderr); // what libxslt does by default
    }

    static void Generic(void* context, const char* format, ...)
    {
        char buffer[1024];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(buffer, sizeof buffer, format, arguments);
        va_end(arguments);
        static_cast<TErrorCollector*>(context)->FText += QString::fromUtf8(buffer);
    }
    static void Structured(void* context, xmlErrorPtr error)
    {
        if (error != nullptr && error->message != nullptr)
            static_cast<TErrorCollector*>(context)->FText += QString::fromUtf8(error->message);
    }

    QString Text() const { return FText.trimmed(); }

private:
    QString FText;
    TErrorCollector* FPrevious;
};

} // namespace

void InstallXmlMemoryCount()
{
    xmlMemSetup(CountedFree, CountedMalloc, CountedRealloc, CountedStrdup);
}

void InitializeXslt()
{
    xsltInit();
    // The hook that bounds transforms; it runs only for contexts whose debug status is set (ours).
    static TDebuggerCallbacks callbacks{CheckBounds, NoCall, NoDrop};
    xsltSetDebuggerCallbacks(3, &callbacks);
    xsltSetGenericErrorFunc(nullptr, &TErrorCollector::ThreadGeneric);
    SecurityPrefs = xsltNewSecurityPrefs();
    xsltSetSecurityPrefs(SecurityPrefs, XSLT_SECPREF_READ_FILE, CheckRead);
    xsltSetSecurityPrefs(SecurityPrefs, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(SecurityPrefs, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(SecurityPrefs, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(SecurityPrefs, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    // Also for what a stylesheet reads while it is compiled (xsl:import, xsl:include).
    xsltSetDefaultSecurityPrefs(SecurityPrefs);
    // Templates written for other engines use msxsl:node-set(); it means what exsl:node-set() means.
    xsltRegisterExtModuleFunction(reinterpret_cast<const xmlChar*>("node-set"),
                                  reinterpret_cast<const xmlChar*>("urn:schemas-microsoft-com:xslt"),
                                  xsltFunctionNodeSet);
}

std::shared_ptr<const TXsltTemplate> TXsltTemplate::Compile(TXmlDocument& stylesheet)
{
    InitializeXmlLibraries();
    if (stylesheet.DocumentElement().IsNull())
        throw EXmlError(QStringLiteral("The stylesheet is empty"));
    xmlDocPtr doc = stylesheet.Release();
    std::lock_guard lock(CompileMutex);
    TErrorCollector errors;
    xsltStylesheetPtr compiled = xsltParseStylesheetDoc(doc);
    if (compiled == nullptr) {
        xmlFreeDoc(doc); // not taken over when compiling fails
        const QString text = errors.Text();
        throw EXmlError(text.isEmpty() ? QStringLiteral("The stylesheet does not compile") : text);
    }
    return std::shared_ptr<const TXsltTemplate>(new TXsltTemplate(compiled));
}

TXsltTemplate::~TXsltTemplate()
{
    xsltFreeStylesheet(FStylesheet); // frees its document too
}

TXsltInput::TXsltInput(TXmlNode element)
{
    InitializeXmlLibraries();
    xmlNodePtr node = element.Handle();
    if (node == nullptr || node->type != XML_ELEMENT_NODE)
        return;
    FDoc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    xmlNodePtr copy = FDoc != nullptr ? xmlDocCopyNode(node, FDoc, 1) : nullptr;
    if (copy == nullptr) {
        xmlFreeDoc(FDoc);
        FDoc = nullptr;
        throw EXmlError(QStringLiteral("Cannot copy the element to transform"));
    }
    xmlDocSetRootElement(FDoc, copy);
    if (node->doc != nullptr && node->doc->URL != nullptr)
        FDoc->URL = xmlStrdup(node->doc->URL);
}

TXsltInput::~TXsltInput()
{
    if (FDoc != nullptr)
        xmlFreeDoc(FDoc);
}

bool TXsltTemplate::Transform(TXmlNode element, QByteArray& output, QString& errors,
                              const TTransformLimits& limits) const
{
    return TransformNode(element.Handle(), output, errors, limits);
}

bool TXsltTemplate::Transform(const TXsltInput& input, QByteArray& output, QString& errors,
                              const TTransformLimits& limits) const
{
    return TransformNode(input.FDoc != nullptr ? xmlDocGetRootElement(input.FDoc) : nullptr, output, errors,
                         limits);
}

bool TXsltTemplate::TransformNode(xmlNodePtr node, QByteArray& output, QString& errors,
                                  const TTransformLimits& limits) const
{
    errors.clear();
    InitializeXmlLibraries(); // also orders this thread after the set-up made on another one
    if (node == nullptr || node->type != XML_ELEMENT_NODE) {
        errors = QStringLiteral("No element to transform");
        return false;
    }
    // The element is copied into a document of this transform's own: libxslt marks the input document
    // (node order, keys), which another transform may be reading at the same time.
    TErrorCollector collector;
    xmlDocPtr input = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    xmlNodePtr copy = input ? xmlDocCopyNode(node, input, 1) : nullptr;
    if (copy == nullptr) {
        xmlFreeDoc(input);
        errors = QStringLiteral("Cannot copy the element to transform");
        return false;
    }
    xmlDocSetRootElement(input, copy);
    if (node->doc != nullptr && node->doc->URL != nullptr)
        input->URL = xmlStrdup(node->doc->URL); // relative references resolve as from the source file

    TRunningTransform running{&limits, XmlBytesHeld, Now(limits) + limits.MaxTime};
    xsltTransformContextPtr context = xsltNewTransformContext(FStylesheet, input);
    bool ok = false;
    if (context != nullptr) {
        xsltSetCtxtSecurityPrefs(SecurityPrefs, context);
        xsltSetTransformErrorFunc(context, &collector, &TErrorCollector::Generic);
        context->_private = &running;
        context->debugStatus = XSLT_DEBUG_RUN;
        xmlDocPtr result = xsltApplyStylesheetUser(FStylesheet, input, nullptr, nullptr, nullptr, context);
        ok = result != nullptr && context->state == XSLT_STATE_OK && running.Stopped.isEmpty();
        if (ok) {
            xmlChar* text = nullptr;
            int length = 0;
            if (xsltSaveResultToString(&text, &length, result, FStylesheet) == 0) {
                if (limits.MaxMemory > 0 && length > limits.MaxMemory) {
                    running.Stopped = QStringLiteral("The transform's page has %1 bytes, more than %2")
                                          .arg(QString::number(length), QString::number(limits.MaxMemory));
                    ok = false;
                } else if (text != nullptr) {
                    output.append(reinterpret_cast<const char*>(text), length);
                }
            } else {
                ok = false;
            }
            xmlFree(text);
        }
        if (result != nullptr)
            xmlFreeDoc(result);
        xsltFreeTransformContext(context);
    }
    xmlFreeDoc(input);
    errors = running.Stopped.isEmpty() ? collector.Text() : running.Stopped;
    return ok;
}
