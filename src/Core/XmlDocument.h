#pragma once

#include "AtomicFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>

// The XML layer: the only code of the system that talks to libxml2 and libxslt. Documents are parsed without
// network access, without loading DTDs or external entities, and with libxml2's guards against entity
// expansion; they are saved as UTF-8 without XML declaration and without indentation, atomically.

struct _xmlNode;
struct _xmlDoc;

class TXmlDocument;

// Non-owning handle of a node (element, attribute or text) of a TXmlDocument; valid while the document lives.
class TXmlNode
{
public:
    TXmlNode() = default;
    explicit TXmlNode(_xmlNode* node) : FNode(node) {}

    bool IsNull() const { return FNode == nullptr; }
    explicit operator bool() const { return FNode != nullptr; }
    bool operator==(const TXmlNode& other) const { return FNode == other.FNode; }

    bool IsElement() const;
    // Qualified name (prefix:local) as written in the file.
    QString Name() const;
    // Text content: the concatenated text of the node and all its descendants.
    QString Text() const;
    // Replaces the node's children by one text node holding the value as plain text.
    void SetText(const QString& value);

    bool HasAttribute(const QString& name) const;
    QString Attribute(const QString& name) const;
    void SetAttribute(const QString& name, const QString& value);

    // XPath location path relative to this node; an invalid expression raises EXmlError.
    TXmlNode SelectSingleNode(const QString& path) const;
    QList<TXmlNode> SelectNodes(const QString& path) const;

    QList<TXmlNode> ChildElements() const;
    // Line of the node in the parsed file (0 when unknown).
    int Line() const;

    _xmlNode* Handle() const { return FNode; }

private:
    _xmlNode* FNode = nullptr;
};

struct TXmlParseError
{
    int Code = 0; // 0: no error
    int Line = 0;
    int Column = 0;
    QString Reason;
};

class TXmlDocument
{
public:
    // An empty document; raises EXmlError when the library cannot create one.
    TXmlDocument();
    ~TXmlDocument();

    TXmlDocument(const TXmlDocument&) = delete;
    TXmlDocument& operator=(const TXmlDocument&) = delete;

    // The largest document the parser takes, in bytes.
    static constexpr qint64 MaxDocumentSize = std::numeric_limits<int>::max();

    // Replace the content by the parsed file / bytes. False on a parse error (see ParseError: the first error
    // met, with its line and reason), content then empty. A file that cannot be read is a parse error too,
    // and so are a file that is not a regular file (never opened) and one larger than maxSize (at most
    // MaxDocumentSize), refused before it is read.
    bool LoadFromFile(const QString& fileName, qint64 maxSize = MaxDocumentSize);
    bool LoadFromBytes(const QByteArray& data, const QString& baseUrl = {});
    const TXmlParseError& ParseError() const { return FParseError; }

    TXmlNode DocumentElement() const;
    // Creates a new element and makes it the document element (replacing any earlier one).
    TXmlNode CreateDocumentElement(const QString& name);
    // Creates a new element as the last child of parent. An invalid XML name raises EXmlError.
    TXmlNode AppendElement(TXmlNode parent, const QString& name);

    QByteArray SaveToBytes() const;
    // Atomic: the file is replaced whole or left as it was. Raises EFileError / EXmlError.
    void SaveToFile(const QString& fileName,
                    QFileDevice::Permissions permissions = TAtomicFileWriter::DefaultPermissions) const;

    _xmlDoc* Handle() const { return FDoc; }
    // Hands the parsed document over to a new owner (the stylesheet compiler); this one becomes empty.
    _xmlDoc* Release();

private:
    void Reset(_xmlDoc* doc);

    _xmlDoc* FDoc = nullptr;
    TXmlParseError FParseError;
};

// True when the XML and XSLT libraries can create their objects (a document and a stylesheet).
// How every file format of the program reads its file. A path that is no file raises EFileError with
// missingFormat ("%1" takes the path); a file that does not parse raises EXmlError with the text unparsable
// makes of the first parse error. An empty missingFormat, or no unparsable, gives false in that case instead.
// A file larger than maxSize does not parse.
bool LoadXmlFile(TXmlDocument& document, const QString& path, const QString& missingFormat,
                 const std::function<QString(const TXmlParseError&)>& unparsable,
                 qint64 maxSize = TXmlDocument::MaxDocumentSize);

bool XmlLibraryAvailable();

// Sets up libxml2 and libxslt once (entity loader, XSLT security defaults); every entry point calls it.
void InitializeXmlLibraries();

// Folders below which the XML layer may read files referenced from a document (external entities are never
// read; this list serves stylesheet imports and document() calls). Empty by default: nothing is read.
void SetXmlReadableFolders(const QStringList& folders);
QStringList XmlReadableFolders();
// True when the path (no URL scheme other than file) lies inside one of the readable folders.
bool IsXmlReadablePath(const QString& path);
