#include "Vitrelle.h"

#include "ContentXml.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "Sequence.h"
#include "XmlHelpers.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <unordered_set>

using namespace ContentXml;

namespace {

// The vitrelle files being loaded on this thread, outermost first: a file that names itself, directly or
// through others, must not be loaded again.
thread_local std::vector<QString> FilesBeingLoaded;
// The nested files loaded so far for the outermost vitrelle being loaded on this thread, and whether the
// bound on them has been logged.
thread_local int NestedFilesLoaded = 0;
thread_local bool NestedBoundLogged = false;

void StartOutermostLoad()
{
    if (!FilesBeingLoaded.empty())
        return;
    NestedFilesLoaded = 0;
    NestedBoundLogged = false;
}

// Counts one more nested file for the outermost vitrelle; false, logged once, beyond the bound.
bool TakeNestedFile()
{
    if (NestedFilesLoaded < TVitrelle::MaxNestedFiles) {
        ++NestedFilesLoaded;
        return true;
    }
    if (!NestedBoundLogged)
        WriteLog(
            TVitrelle::LogSource, 2,
            QStringLiteral("Vitrelle %1 names more than %2 nested vitrelle files: the others are not loaded")
                .arg(FilesBeingLoaded.empty() ? QString() : FilesBeingLoaded.front(),
                     QString::number(TVitrelle::MaxNestedFiles)));
    NestedBoundLogged = true;
    return false;
}

// Raises a clear error for a list or vitrelle file too large to be read.
void CheckFileSize(const QString& what, const QString& path)
{
    const qint64 size = QFileInfo(path).size();
    if (size > TVitrelle::MaxFileSize)
        throw EVitrelleError(
            QStringLiteral("%1 %2 is not read: it has %3 bytes, more than the limit of %4")
                .arg(what, path, QString::number(size), QString::number(TVitrelle::MaxFileSize)));
}

class TLoadingFile
{
public:
    explicit TLoadingFile(const QString& canonicalPath) { FilesBeingLoaded.push_back(canonicalPath); }
    ~TLoadingFile() { FilesBeingLoaded.pop_back(); }
};

// The file that a nested vitrelle's "xml" attribute names, or empty when there is none to load. The name
// comes from the server: a relative one lies in the folder of the outermost vitrelle file being loaded (for
// the repository's vitrelles, the cache folder), and the file must lie in one of the folders the XML layer
// may read (the cache and the templates); anything else is refused. A file that does not exist is left to
// the load, which reports it missing.
QString NestedFilePath(const QString& name)
{
    if (name.isEmpty())
        return {};
    const QString base =
        FilesBeingLoaded.empty() ? QDir::currentPath() : QFileInfo(FilesBeingLoaded.front()).absolutePath();
    const QString path = QDir::cleanPath(QDir::isAbsolutePath(name) ? name : QDir(base).filePath(name));
    if (QFileInfo::exists(path) && !IsXmlReadablePath(path)) {
        const QString parent = FilesBeingLoaded.empty() ? QString() : FilesBeingLoaded.back();
        WriteLog(
            TVitrelle::LogSource, 1,
            QStringLiteral("Nested vitrelle %1 of %2 lies outside the cache and template folders: refused")
                .arg(name, parent));
        return {};
    }
    return path;
}

} // namespace

// ---- TVitrelleList ----

bool TVitrelleList::LoadFromFile(const QString& path)
{
    VC_ASSERT_MAIN_THREAD();
    try {
        if (QFileInfo(path).isFile())
            CheckFileSize(QStringLiteral("Vitrelle list"), path);
        TXmlDocument document;
        LoadXmlFile(
            document, path, QStringLiteral("Cannot find vitrelle %1"),
            [&](const TXmlParseError& error) { return ListParseErrorMessage(path, error); },
            TVitrelle::MaxFileSize);
        return LoadFromNode(document.DocumentElement());
    } catch (const EVitrelleError& error) {
        WriteLog(TVitrelleList::LogSource, 1, error.Message());
        throw EVitrelleListError(error.Message());
    }
}

QString TVitrelleList::ListParseErrorMessage(const QString& path, const TXmlParseError& error)
{
    return QStringLiteral("Error while parsing vitrelle list %1 in line %2: %3")
        .arg(path, QString::number(error.Line), error.Reason);
}

bool TVitrelleList::LoadFromNode(TXmlNode element)
{
    if (element.IsNull() || !SameTextAscii(element.Name(), VitrellesElement))
        return false;
    FItems.clear();
    for (const TXmlNode& child : element.ChildElements()) {
        if (!SameTextAscii(child.Name(), VitrelleElement))
            continue;
        auto vitrelle = std::make_shared<TVitrelle>(GetAttributeValue(child, IdAttribute), -1);
        vitrelle->Name = GetAttributeValue(child, NameAttribute);
        FItems.push_back(std::move(vitrelle));
    }
    return true;
}

TVitrelle* TVitrelleList::FindById(const QString& id) const
{
    return SharedById(id).get();
}

std::shared_ptr<TVitrelle> TVitrelleList::SharedById(const QString& id) const
{
    for (const auto& vitrelle : FItems)
        if (SameTextAscii(vitrelle->Id, id))
            return vitrelle;
    return nullptr;
}

TVitrelle* TVitrelleList::FindByName(const QString& name) const
{
    for (const auto& vitrelle : FItems)
        if (SameTextAscii(vitrelle->Name, name))
            return vitrelle.get();
    return nullptr;
}

int TVitrelleList::IndexOfId(const QString& id) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i]->Id == id)
            return static_cast<int>(i);
    return -1;
}

TVitrelle* TVitrelleList::At(int index) const
{
    return SharedAt(index).get();
}

const std::shared_ptr<TVitrelle>& TVitrelleList::SharedAt(int index) const
{
    if (index < 0 || index >= Count())
        throw EOutOfRange(QStringLiteral("Vitrelle index %1 out of range (0 to %2)")
                              .arg(QString::number(index), QString::number(Count() - 1)));
    return FItems[static_cast<size_t>(index)];
}

// ---- TVitrelle ----

TVitrelle::TVitrelle(QString id, qint32 index) : TVitrelleEntity(std::move(id), index) {}

TVitrelle::~TVitrelle()
{
    Clear(); // the sequence's enumerators refer to the entities: they go first
}

bool TVitrelle::LoadFromFile(const QString& path)
{
    VC_ASSERT_MAIN_THREAD(); // the media worker reads a vitrelle only while it is not reloaded
    bool loaded = false;
    LogErrors(LogSource, [&] { loaded = LoadChecked(path); });
    return loaded;
}

bool TVitrelle::LoadChecked(const QString& path)
{
    StartOutermostLoad();
    const QFileInfo file(path);
    if (file.exists() && !file.isFile()) // a device or a pipe: opening it may block or read without end
        throw EVitrelleError(QStringLiteral("Vitrelle %1 is not a regular file: refused").arg(path));
    if (!file.isFile())
        throw EVitrelleError(QStringLiteral("Cannot find vitrelle %1").arg(path));
    CheckFileSize(QStringLiteral("Vitrelle"), path);
    const QString canonical = file.canonicalFilePath();
    if (std::find(FilesBeingLoaded.begin(), FilesBeingLoaded.end(), canonical) != FilesBeingLoaded.end()) {
        WriteLog(
            TVitrelle::LogSource, 2,
            QStringLiteral("Vitrelle %1 is not loaded again: it is already being loaded (it names itself "
                           "through its nested vitrelles)")
                .arg(path));
        return false;
    }
    if (FilesBeingLoaded.size() >= static_cast<size_t>(MaxNestingDepth)) {
        WriteLog(TVitrelle::LogSource, 2,
                 QStringLiteral("Vitrelle %1 is not loaded: vitrelle files nest deeper than %2 levels")
                     .arg(path, QString::number(MaxNestingDepth)));
        return false;
    }
    const TLoadingFile loading(canonical);
    // The id comes from the file name even when the file then turns out to be broken.
    const QString fileName = file.fileName();
    Id = fileName.size() > 4 ? fileName.left(fileName.size() - 4) : QString();
    auto document = std::make_shared<TXmlDocument>();
    LoadXmlFile(
        *document, path, QString(),
        [&](const TXmlParseError& error) {
            return QStringLiteral("Error while parsing vitrelle %1 in line %2: %3")
                .arg(path, QString::number(error.Line), error.Reason);
        },
        MaxFileSize);
    return LoadFromNode(document, path);
}

bool TVitrelle::LoadFromNode(const std::shared_ptr<const TXmlDocument>& document, const QString& fileName)
{
    const TXmlNode root = document ? document->DocumentElement() : TXmlNode();
    if (root.IsNull() || !SameTextAscii(root.Name(), VitrelleElement))
        return false;
    StartOutermostLoad();
    Clear();
    Name = GetAttributeValue(root, NameAttribute);
    qint32 counter = 0;
    bool sequenceRead = false;
    for (const TXmlNode& child : root.ChildElements()) {
        const QString name = child.Name();
        if (SameTextAscii(name, DiapositiveElement)) {
            auto slide = std::make_shared<TDiapositive>(counter++);
            slide->LoadFromNode(document, child);
            FDiapositives.push_back(slide.get());
            FEntities.push_back(std::move(slide));
        } else if (SameTextAscii(name, VitrelleElement)) {
            auto nested = std::make_shared<TVitrelle>(QString(), counter++);
            const QString file = NestedFilePath(GetAttributeValue(child, XmlAttribute));
            if (!file.isEmpty() && TakeNestedFile())
                nested->LoadFromFile(file); // a nested file that fails leaves the nested vitrelle empty
            FNestedVitrelles.Add(nested);
            FEntities.push_back(std::move(nested));
        } else if (SameTextAscii(name, SequenceElement) && !sequenceRead) {
            sequenceRead = true;
            if (!FSequence)
                FSequence = std::make_unique<TSequence>();
            FSequence->LoadFromNode(child, !fileName.isEmpty()
                                               ? QStringLiteral("Vitrelle file %1").arg(fileName)
                                               : QStringLiteral("Vitrelle '%1'").arg(Name));
        }
    }
    return true;
}

void TVitrelle::Clear()
{
    Name.clear();
    if (FSequence)
        FSequence->Clear();
    FNestedVitrelles.Clear();
    FDiapositives.clear();
    FEntities.clear();
}

TDiapositive* TVitrelle::DiapositiveAt(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= FDiapositives.size())
        throw EOutOfRange(
            QStringLiteral("Slide index %1 out of range (0 to %2)")
                .arg(QString::number(index), QString::number(static_cast<int>(FDiapositives.size()) - 1)));
    return FDiapositives[static_cast<size_t>(index)];
}

TVitrelle* TVitrelle::FindNested(const QString& name) const
{
    return FNestedVitrelles.FindByName(name);
}

std::vector<TDiapositive*> TVitrelle::AllDiapositives() const
{
    std::vector<TDiapositive*> result = FDiapositives;
    for (const auto& nested : FNestedVitrelles) {
        const std::vector<TDiapositive*> inner = nested->AllDiapositives();
        result.insert(result.end(), inner.begin(), inner.end());
    }
    return result;
}

std::vector<TDiapositiveType*> TVitrelle::UsedTypes() const
{
    std::vector<TDiapositiveType*> result;
    std::unordered_set<const TDiapositiveType*> seen; // thousands of slides may use thousands of types
    for (const TDiapositive* slide : FDiapositives)
        if (slide->DiapositiveType != nullptr && seen.insert(slide->DiapositiveType).second)
            result.push_back(slide->DiapositiveType);
    for (const auto& nested : FNestedVitrelles) {
        const std::vector<TDiapositiveType*> inner = nested->UsedTypes();
        result.insert(result.end(), inner.begin(), inner.end());
    }
    return result;
}
