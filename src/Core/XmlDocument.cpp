#include "XmlDocument.h"

#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>

#include "XsltSetup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::shared_mutex ReadableFoldersMutex;
QStringList ReadableFolders; // canonical, each with a trailing "/"

xmlExternalEntityLoader DefaultEntityLoader = nullptr;

// Set while this thread parses a document: documents never need a resource besides themselves.
thread_local bool ParsingDocument = false;

// Every resource that libxml2 or libxslt wants to load besides the document itself (external entities,
// external DTD subsets, stylesheet imports, document()) passes here. Only plain local files inside the
// readable folders get through; network and everything else is refused.
xmlParserInputPtr GuardedEntityLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt)
{
    if (url != nullptr && !ParsingDocument) {
        const QString text = QString::fromUtf8(url);
        QString path;
        const QUrl parsed(text);
        if (parsed.isLocalFile())
            path = parsed.toLocalFile();
        else if (parsed.scheme().isEmpty() || text.startsWith(QLatin1Char('/')))
            path = text;
        if (!path.isEmpty() && IsXmlReadablePath(path))
            return DefaultEntityLoader(url, id, ctxt);
    }
    (void)ctxt;
    return nullptr;
}

void SilentStructuredError(void*, xmlErrorPtr) {}
void SilentGenericError(void*, const char*, ...) {}

// The first error of a parse: where the damage is. libxml2 keeps only the last one, and after a broken tag
// that is usually a consequence ("Premature end of data") at the end of the file.
struct TFirstError
{
    bool Seen = false;
    int Code = 0;
    int Line = 0;
    int Column = 0;
    QString Reason;
};

void RecordFirstError(void* context, xmlErrorPtr error)
{
    auto& first = *static_cast<TFirstError*>(context);
    if (first.Seen || error == nullptr || error->level < XML_ERR_ERROR)
        return;
    first.Seen = true;
    first.Code = error->code;
    first.Line = error->line;
    first.Column = error->int2;
    first.Reason = error->message ? QString::fromUtf8(error->message).trimmed() : QString();
}

void InitializeLibraries()
{
    InitializeXmlLibraries();
}

// libxml2 reports errors through per-thread handlers that print to stderr by default; the layer reports
// them through its own results instead.
class TSilencedErrors
{
public:
    TSilencedErrors()
    {
        InitializeLibraries();
        xmlSetStructuredErrorFunc(nullptr, SilentStructuredError);
        xmlSetGenericErrorFunc(nullptr, SilentGenericError);
    }
    ~TSilencedErrors()
    {
        xmlSetStructuredErrorFunc(nullptr, nullptr);
        xmlSetGenericErrorFunc(nullptr, nullptr);
    }
};

const xmlChar* Utf8(const QByteArray& bytes)
{
    return reinterpret_cast<const xmlChar*>(bytes.constData());
}

QString FromXml(const xmlChar* text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QString();
}

QString TakeXml(xmlChar* text)
{
    const QString result = FromXml(text);
    xmlFree(text);
    return result;
}

// XML 1.0 cannot carry control characters other than tab, line feed and carriage return, nor U+FFFE/U+FFFF;
// writing one would make the saved file unreadable, so they are left out.
QByteArray XmlText(const QString& value)
{
    QString clean;
    clean.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) {
            clean.append(c);
            clean.append(value.at(++i));
            continue;
        }
        if (c.isSurrogate() || u == 0xFFFE || u == 0xFFFF)
            continue;
        if (u < 0x20 && u != 0x9 && u != 0xA && u != 0xD)
            continue;
        clean.append(c);
    }
    return clean.toUtf8();
}

QByteArray XmlName(const QString& name)
{
    const QByteArray bytes = name.toUtf8();
    if (name.isEmpty() || xmlValidateName(Utf8(bytes), 0) != 0)
        throw EXmlError(QStringLiteral("'%1' is not a valid XML name").arg(name));
    return bytes;
}

QString ErrorReason(const xmlError* error)
{
    if (error == nullptr || error->message == nullptr)
        return QStringLiteral("unknown error");
    return QString::fromUtf8(error->message).trimmed();
}

QList<TXmlNode> Evaluate(_xmlNode* node, const QString& path, bool firstOnly)
{
    QList<TXmlNode> result;
    if (node == nullptr || node->doc == nullptr || path.isEmpty())
        return result;
    TSilencedErrors silenced;
    xmlXPathContextPtr context = xmlXPathNewContext(node->doc);
    if (context == nullptr)
        throw EXmlError(QStringLiteral("Cannot create an XPath context"));
    context->node = node;
    const QByteArray expression = path.toUtf8();
    xmlXPathObjectPtr object = xmlXPathEvalExpression(Utf8(expression), context);
    if (object == nullptr) {
        const QString reason = ErrorReason(xmlGetLastError());
        xmlXPathFreeContext(context);
        throw EXmlError(QStringLiteral("Invalid XPath expression '%1': %2").arg(path, reason));
    }
    if (object->type == XPATH_NODESET && object->nodesetval != nullptr) {
        const xmlNodeSetPtr set = object->nodesetval;
        for (int i = 0; i < set->nodeNr; ++i) {
            xmlNodePtr found = set->nodeTab[i];
            if (found == nullptr || found->type == XML_NAMESPACE_DECL)
                continue;
            result.append(TXmlNode(found));
            if (firstOnly)
                break;
        }
    }
    xmlXPathFreeObject(object);
    xmlXPathFreeContext(context);
    return result;
}

} // namespace

// ---- TXmlNode ----

bool TXmlNode::IsElement() const
{
    return FNode != nullptr && FNode->type == XML_ELEMENT_NODE;
}

QString TXmlNode::Name() const
{
    if (FNode == nullptr)
        return {};
    const QString local = FromXml(FNode->name);
    if ((FNode->type == XML_ELEMENT_NODE || FNode->type == XML_ATTRIBUTE_NODE) && FNode->ns != nullptr &&
        FNode->ns->prefix != nullptr)
        return FromXml(FNode->ns->prefix) + QLatin1Char(':') + local;
    return local;
}

QString TXmlNode::Text() const
{
    if (FNode == nullptr)
        return {};
    return TakeXml(xmlNodeGetContent(FNode));
}

void TXmlNode::SetText(const QString& value)
{
    if (FNode == nullptr)
        return;
    xmlNodeSetContent(FNode, nullptr); // drops the children
    const QByteArray text = XmlText(value);
    if (!text.isEmpty())
        xmlNodeAddContentLen(FNode, Utf8(text), static_cast<int>(text.size())); // raw text, no entity parsing
}

bool TXmlNode::HasAttribute(const QString& name) const
{
    if (!IsElement() || name.isEmpty())
        return false;
    return xmlHasNsProp(FNode, Utf8(name.toUtf8()), nullptr) != nullptr;
}

QString TXmlNode::Attribute(const QString& name) const
{
    if (!IsElement() || name.isEmpty())
        return {};
    return TakeXml(xmlGetNoNsProp(FNode, Utf8(name.toUtf8())));
}

void TXmlNode::SetAttribute(const QString& name, const QString& value)
{
    if (!IsElement() || name.isEmpty())
        return;
    const QByteArray xmlName = XmlName(name);
    const QByteArray text = XmlText(value);
    if (xmlSetProp(FNode, Utf8(xmlName), Utf8(text)) == nullptr)
        throw EXmlError(QStringLiteral("Cannot set the attribute %1").arg(name));
}

TXmlNode TXmlNode::SelectSingleNode(const QString& path) const
{
    const QList<TXmlNode> found = Evaluate(FNode, path, true);
    return found.isEmpty() ? TXmlNode() : found.first();
}

QList<TXmlNode> TXmlNode::SelectNodes(const QString& path) const
{
    return Evaluate(FNode, path, false);
}

QList<TXmlNode> TXmlNode::ChildElements() const
{
    QList<TXmlNode> result;
    if (FNode == nullptr)
        return result;
    for (xmlNodePtr child = FNode->children; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            result.append(TXmlNode(child));
    return result;
}

int TXmlNode::Line() const
{
    return FNode ? static_cast<int>(xmlGetLineNo(FNode)) : 0;
}

// ---- TXmlDocument ----

_xmlDoc* TXmlDocument::Release()
{
    xmlDocPtr doc = FDoc;
    FDoc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    if (FDoc == nullptr) {
        FDoc = doc;
        throw EXmlError(QStringLiteral("Cannot create an XML document"));
    }
    return doc;
}

TXmlDocument::TXmlDocument()
{
    InitializeLibraries();
    FDoc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    if (FDoc == nullptr)
        throw EXmlError(QStringLiteral("Cannot create an XML document"));
}

TXmlDocument::~TXmlDocument()
{
    if (FDoc != nullptr)
        xmlFreeDoc(FDoc);
}

void TXmlDocument::Reset(_xmlDoc* doc)
{
    if (FDoc != nullptr)
        xmlFreeDoc(FDoc);
    FDoc = doc;
}

bool LoadXmlFile(TXmlDocument& document, const QString& path, const QString& missingFormat,
                 const std::function<QString(const TXmlParseError&)>& unparsable, qint64 maxSize)
{
    if (!QFileInfo(path).isFile()) {
        if (missingFormat.isEmpty())
            return false;
        throw EFileError(missingFormat.arg(path));
    }
    if (document.LoadFromFile(path, maxSize))
        return true;
    if (!unparsable)
        return false;
    throw EXmlError(unparsable(document.ParseError()));
}

bool TXmlDocument::LoadFromFile(const QString& fileName, qint64 maxSize)
{
    maxSize = std::min(maxSize, MaxDocumentSize);
    const auto fail = [this](int code, const QString& reason) {
        Reset(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
        FParseError = {code, 0, 0, reason};
        return false;
    };
    // Only a regular file is opened: opening a pipe blocks until somebody writes to it, and a device may
    // never end. Checked before the open (a device is not even opened) and on the open file (it may have
    // been replaced meanwhile); the open does not wait for a pipe's writer.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        return fail(XML_IO_LOAD_ERROR, QStringLiteral("Cannot read %1: not a regular file").arg(fileName));
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail(
            XML_IO_LOAD_ERROR,
            QStringLiteral("Cannot open %1: %2").arg(fileName, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat opened
    {
    };
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return fail(XML_IO_LOAD_ERROR, QStringLiteral("Cannot read %1: not a regular file").arg(fileName));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(XML_IO_LOAD_ERROR,
                    QStringLiteral("Cannot open %1: %2").arg(fileName, file.errorString()));
    }
    // Checked before the file is read whole: a file the parser cannot take must not cost its size in memory
    // (files come from the content server).
    const qint64 size = file.size();
    if (size > maxSize)
        return fail(XML_ERR_NO_MEMORY, QStringLiteral("%1 is too large to be parsed: %2 bytes, at most %3")
                                           .arg(fileName, QString::number(size), QString::number(maxSize)));
    // Read up to the limit whatever the size said: some files (those of /proc) tell 0 and are endless.
    QByteArray data;
    try {
        data.reserve(size);
        constexpr qint64 Chunk = 1024 * 1024;
        while (true) {
            const QByteArray chunk = file.read(Chunk);
            if (chunk.isEmpty())
                break;
            if (data.size() + chunk.size() > maxSize)
                return fail(XML_ERR_NO_MEMORY,
                            QStringLiteral("%1 is too large to be parsed: more than %2 bytes")
                                .arg(fileName, QString::number(maxSize)));
            data.append(chunk);
        }
    } catch (const std::bad_alloc&) {
        return fail(
            XML_ERR_NO_MEMORY,
            QStringLiteral("Not enough memory to read %1 (%2 bytes)").arg(fileName, QString::number(size)));
    }
    if (file.error() != QFileDevice::NoError)
        return fail(XML_IO_LOAD_ERROR,
                    QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()));
    return LoadFromBytes(data, QFileInfo(fileName).absoluteFilePath());
}

bool TXmlDocument::LoadFromBytes(const QByteArray& data, const QString& baseUrl)
{
    TSilencedErrors silenced;
    FParseError = {};
    if (data.size() > MaxDocumentSize) {
        Reset(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
        FParseError = {XML_ERR_NO_MEMORY, 0, 0, QStringLiteral("The document is too large")};
        return false;
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr)
        throw EXmlError(QStringLiteral("Cannot create an XML parser"));
    // Entities are substituted so that texts read as they would be shown, under libxml2's amplification
    // guards (no XML_PARSE_HUGE); no DTD is loaded and nothing is fetched from the network.
    const int options = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA;
    const QByteArray url = baseUrl.toUtf8();
    TFirstError first;
    xmlSetStructuredErrorFunc(&first, RecordFirstError);
    ParsingDocument = true;
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, data.constData(), static_cast<int>(data.size()),
                                      url.isEmpty() ? nullptr : url.constData(), nullptr, options);
    ParsingDocument = false;
    xmlSetStructuredErrorFunc(nullptr, SilentStructuredError);
    const bool wellFormed = doc != nullptr && ctxt->wellFormed != 0;
    if (!wellFormed && first.Seen && first.Code != 0) {
        FParseError.Code = first.Code;
        FParseError.Line = first.Line;
        FParseError.Column = first.Column;
        FParseError.Reason = first.Reason.isEmpty() ? QStringLiteral("unknown error") : first.Reason;
    } else if (!wellFormed) {
        const xmlError* error = xmlCtxtGetLastError(ctxt);
        FParseError.Code = (error && error->code != 0) ? error->code : XML_ERR_DOCUMENT_END;
        FParseError.Line = error ? error->line : 0;
        FParseError.Column = error ? error->int2 : 0;
        FParseError.Reason = ErrorReason(error);
    }
    if (!wellFormed) {
        if (doc != nullptr)
            xmlFreeDoc(doc);
        doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    }
    xmlFreeParserCtxt(ctxt);
    Reset(doc);
    if (FDoc == nullptr)
        throw EXmlError(QStringLiteral("Cannot create an XML document"));
    return wellFormed;
}

TXmlNode TXmlDocument::DocumentElement() const
{
    return TXmlNode(xmlDocGetRootElement(FDoc));
}

TXmlNode TXmlDocument::CreateDocumentElement(const QString& name)
{
    const QByteArray xmlName = XmlName(name);
    xmlNodePtr node = xmlNewDocNode(FDoc, nullptr, Utf8(xmlName), nullptr);
    if (node == nullptr)
        throw EXmlError(QStringLiteral("Cannot create the element %1").arg(name));
    xmlNodePtr old = xmlDocSetRootElement(FDoc, node);
    if (old != nullptr)
        xmlFreeNode(old);
    return TXmlNode(node);
}

TXmlNode TXmlDocument::AppendElement(TXmlNode parent, const QString& name)
{
    const QByteArray xmlName = XmlName(name);
    if (parent.IsNull())
        throw EXmlError(QStringLiteral("Cannot append the element %1 to no parent").arg(name));
    xmlNodePtr node = xmlNewDocNode(FDoc, nullptr, Utf8(xmlName), nullptr);
    if (node == nullptr || xmlAddChild(parent.Handle(), node) == nullptr) {
        xmlFreeNode(node);
        throw EXmlError(QStringLiteral("Cannot create the element %1").arg(name));
    }
    return TXmlNode(node);
}

QByteArray TXmlDocument::SaveToBytes() const
{
    TSilencedErrors silenced;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr)
        throw EXmlError(QStringLiteral("Cannot create an output buffer"));
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_AS_XML);
    if (save == nullptr) {
        xmlBufferFree(buffer);
        throw EXmlError(QStringLiteral("Cannot create an XML writer"));
    }
    const long written = xmlSaveDoc(save, FDoc);
    xmlSaveClose(save);
    QByteArray bytes(reinterpret_cast<const char*>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    xmlBufferFree(buffer);
    if (written < 0)
        throw EXmlError(QStringLiteral("Cannot serialise the XML document"));
    // libxml2 ends the document with a line feed; the files carry no whitespace outside their elements.
    while (bytes.endsWith('\n'))
        bytes.chop(1);
    return bytes;
}

void TXmlDocument::SaveToFile(const QString& fileName, QFileDevice::Permissions permissions) const
{
    TAtomicFileWriter::WriteFile(fileName, SaveToBytes(), permissions);
}

// ---- library set-up, check and readable folders ----

void InitializeXmlLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        InstallXmlMemoryCount();
        xmlInitParser();
        DefaultEntityLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(GuardedEntityLoader);
        InitializeXslt();
    });
}

bool XmlLibraryAvailable()
{
    InitializeLibraries();
    xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    if (doc == nullptr)
        return false;
    xmlFreeDoc(doc);
    xsltStylesheetPtr sheet = xsltNewStylesheet();
    if (sheet == nullptr)
        return false;
    xsltFreeStylesheet(sheet);
    return true;
}

void SetXmlReadableFolders(const QStringList& folders)
{
    QStringList canonical;
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        // A folder that does not exist yet (the cache before its first download) counts by its plain path.
        QString path = QFileInfo(folder).canonicalFilePath();
        if (path.isEmpty())
            path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        canonical.append(path);
    }
    std::unique_lock lock(ReadableFoldersMutex);
    ReadableFolders = canonical;
}

QStringList XmlReadableFolders()
{
    std::shared_lock lock(ReadableFoldersMutex);
    return ReadableFolders;
}

bool IsXmlReadablePath(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    std::shared_lock lock(ReadableFoldersMutex);
    for (const QString& folder : ReadableFolders)
        if (canonical.startsWith(folder))
            return true;
    return false;
}
