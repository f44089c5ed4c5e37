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

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

xsltSecurityPrefsPtr SecurityPrefs = nullptr;
std::mutex CompileMutex; // libxslt's generic error handler is process-wide

int CheckRead(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char* value)
{
    if (value == nullptr)
        return 0;
    const QString text = QString::fromUtf8(value);
    const QString path = text.startsWith(QLatin1String("file://")) ? text.mid(7) : text;
    return IsXmlReadablePath(path) ? 1 : 0;
}

// Collects the messages that libxml2 and libxslt report while it is alive, on this thread.
class TErrorCollector
{
public:
    TErrorCollector()
    {
        xmlSetGenericErrorFunc(this, &TErrorCollector::Generic);
        xmlSetStructuredErrorFunc(this, &TErrorCollector::Structured);
    }
    ~TErrorCollector()
    {
        xmlSetGenericErrorFunc(nullptr, nullptr);
        xmlSetStructuredErrorFunc(nullptr, nullptr);
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
};

} // namespace

void InitializeXslt()
{
    xsltInit();
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
    TErrorCollector* context = &errors;
    xsltSetGenericErrorFunc(context, &TErrorCollector::Generic);
    xsltStylesheetPtr compiled = xsltParseStylesheetDoc(doc);
    xsltSetGenericErrorFunc(nullptr, nullptr);
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

bool TXsltTemplate::Transform(TXmlNode element, QByteArray& output, QString& errors) const
{
    errors.clear();
    xmlNodePtr node = element.Handle();
    if (node == nullptr || node->type != XML_ELEMENT_NODE) {
        errors = QStringLiteral("No element to transform");
        return false;
    }
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

    xsltTransformContextPtr context = xsltNewTransformContext(FStylesheet, input);
    bool ok = false;
    if (context != nullptr) {
        xsltSetCtxtSecurityPrefs(SecurityPrefs, context);
        xsltSetTransformErrorFunc(context, &collector, &TErrorCollector::Generic);
        xmlDocPtr result = xsltApplyStylesheetUser(FStylesheet, input, nullptr, nullptr, nullptr, context);
        ok = result != nullptr && context->state == XSLT_STATE_OK;
        if (ok) {
            xmlChar* text = nullptr;
            int length = 0;
            if (xsltSaveResultToString(&text, &length, result, FStylesheet) == 0) {
                if (text != nullptr)
                    output.append(reinterpret_cast<const char*>(text), length);
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
    errors = collector.Text();
    return ok;
}
