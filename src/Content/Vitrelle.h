#pragma once

#include "Diapositive.h"
#include "Errors.h"
#include "VitrelleEntity.h"
#include "XmlDocument.h"

#include <QString>

#include <memory>
#include <vector>

class TDiapositiveType;
class TSequence;
class TVitrelle;

// A failure of the vitrelle list file (missing or not well-formed), raised after the list has logged it:
// whoever catches it must not log it again.
class EVitrelleListError : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// An ordered list of vitrelles with lookups. Items are shared: the list keeps them alive, and so does
// anybody who holds one (a player keeps playing a vitrelle that a reloaded list no longer names).
class TVitrelleList
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleList"};

    using TItems = std::vector<std::shared_ptr<TVitrelle>>;

    // The vitrelle list file. Failures are logged, then raised again (EVitrelleListError); a root that is not
    // "Vitrelles" gives false and leaves the list unchanged. A file larger than TVitrelle::MaxFileSize is
    // refused before it is read.
    bool LoadFromFile(const QString& path);
    // The message of a list file (or download) that does not parse.
    static QString ListParseErrorMessage(const QString& path, const TXmlParseError& error);
    bool LoadFromNode(TXmlNode element);

    // Ids and names compare ignoring ASCII letter case, except IndexOfId, which is exact.
    TVitrelle* FindById(const QString& id) const;
    std::shared_ptr<TVitrelle> SharedById(const QString& id) const;
    TVitrelle* FindByName(const QString& name) const;
    int IndexOfId(const QString& id) const;

    int Count() const { return static_cast<int>(FItems.size()); }
    TVitrelle* At(int index) const;
    const std::shared_ptr<TVitrelle>& SharedAt(int index) const;
    void Add(std::shared_ptr<TVitrelle> vitrelle) { FItems.push_back(std::move(vitrelle)); }
    void Clear() { FItems.clear(); }
    TItems::const_iterator begin() const { return FItems.begin(); }
    TItems::const_iterator end() const { return FItems.end(); }

private:
    TItems FItems;
};

// A slideshow: its slides and nested vitrelles in file order, and an optional play sequence.
class TVitrelle : public TVitrelleEntity
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelle"};

    // Nested vitrelle files are loaded at most this deep.
    static constexpr int MaxNestingDepth = 16;
    // At most this many nested vitrelle files are loaded for one vitrelle, at all depths together: ten
    // files that each name ten more would otherwise grow tenfold with every level.
    static constexpr int MaxNestedFiles = 256;
    // List and vitrelle files larger than this are refused before they are read: parsed, they take many
    // times their size in memory.
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

    TVitrelle(QString id, qint32 index);
    ~TVitrelle() override;

    // The vitrelle file. Never raises: failures are logged and give false. A nested vitrelle's "xml" path is
    // taken relative to the folder of the outermost file (the cache folder) and is loaded only from the
    // folders the XML layer may read (SetXmlReadableFolders: the cache and the templates), and only when it
    // is a regular file. Files larger than MaxFileSize are refused, as are nested files beyond
    // MaxNestingDepth and MaxNestedFiles.
    bool LoadFromFile(const QString& path);
    // The root element of a parsed vitrelle document; false (nothing changed) when it is not "Vitrelle".
    // fileName, when known, is where its log lines say the content comes from.
    bool LoadFromNode(const std::shared_ptr<const TXmlDocument>& document, const QString& fileName = {});
    void Clear();

    int EntryCount() const { return static_cast<int>(FEntities.size()); }
    // Raises EOutOfRange for an index outside the slides.
    TDiapositive* DiapositiveAt(int index) const;
    TVitrelle* FindNested(const QString& name) const;
    bool HasContent() const { return !FEntities.empty(); }
    // Own slides in order, then those of each nested vitrelle, depth first.
    std::vector<TDiapositive*> AllDiapositives() const;
    // Distinct types of the own slides in order of first use, then the nested vitrelles' (not deduplicated).
    std::vector<TDiapositiveType*> UsedTypes() const;

    const std::vector<std::shared_ptr<TVitrelleEntity>>& Entities() const { return FEntities; }
    const std::vector<TDiapositive*>& Diapositives() const { return FDiapositives; }
    const TVitrelleList& NestedVitrelles() const { return FNestedVitrelles; }
    TSequence* Sequence() const { return FSequence.get(); }

    QString Name;

private:
    bool LoadChecked(const QString& path);

    std::vector<std::shared_ptr<TVitrelleEntity>> FEntities;
    std::vector<TDiapositive*> FDiapositives;
    TVitrelleList FNestedVitrelles;
    std::unique_ptr<TSequence> FSequence;
};
