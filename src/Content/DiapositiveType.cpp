#include "DiapositiveType.h"

#include "ContentXml.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "XmlHelpers.h"

#include <QFileInfo>
#include <QHash>

using namespace ContentXml;

namespace {

std::vector<std::unique_ptr<TDiapositiveType>>& Registry()
{
    static std::vector<std::unique_ptr<TDiapositiveType>> registry;
    return registry;
}

// The registry's types by name with ASCII letters in lower case (names compare ignoring ASCII letter case
// only), the first registered of each name: every slide looks its type up while a vitrelle loads.
QHash<QString, TDiapositiveType*>& Index()
{
    static QHash<QString, TDiapositiveType*> index;
    return index;
}

QString FoldedName(const QString& name)
{
    QString folded = name;
    for (QChar& c : folded)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return folded;
}

QString& Folder()
{
    static QString folder;
    return folder;
}

} // namespace

bool TDiapositiveType::LoadTypes(const QString& path)
{
    VC_ASSERT_MAIN_THREAD(); // replaces the registry that rendering reads
    return LogErrors(LogSource, [&] {
        TXmlDocument document;
        LoadXmlFile(
            document, path, QStringLiteral("Cannot find type file %1"), [&](const TXmlParseError& error) {
                return QStringLiteral("Error while parsing file type %1 : %2").arg(path, error.Reason);
            });
        for (const TXmlNode& element : document.DocumentElement().SelectNodes(TypesPath)) {
            auto type = std::make_unique<TDiapositiveType>();
            type->LoadFromNode(element);
            const QString key = FoldedName(type->Name);
            if (!Index().contains(key)) // the first type of a name is the one found
                Index().insert(key, type.get());
            Registry().push_back(std::move(type));
        }
    });
}

TDiapositiveType* TDiapositiveType::FindType(const QString& name)
{
    return Index().value(FoldedName(name), nullptr);
}

void TDiapositiveType::FreeTypes()
{
    Index().clear();
    Registry().clear();
}

const std::vector<std::unique_ptr<TDiapositiveType>>& TDiapositiveType::Types()
{
    return Registry();
}

QString TDiapositiveType::TemplateFolder()
{
    return Folder();
}

void TDiapositiveType::SetTemplateFolder(const QString& folder)
{
    Folder() = folder;
}

bool TDiapositiveType::LoadFromNode(TXmlNode element)
{
    if (element.IsNull())
        return false;
    // The first element of each name counts; absent ones keep their defaults.
    const auto read = [&](const QString& path, QString& field) {
        const TXmlNode found = element.SelectSingleNode(path);
        if (!found.IsNull())
            field = found.Text();
    };
    read(TypeNamePath, Name);
    read(TypeURLPath, URL);
    read(TypeMediaMarkPath, MediaMark);
    read(TypeMediaURLPath, MediaURL);
    read(TypeMediaDirPath, MediaDir);
    for (const TXmlNode& child : element.ChildElements()) {
        if (!SameTextAscii(child.Name(), ResourceElement))
            continue;
        auto resource = std::make_unique<TVitrelleResource>(QString(), URL, Name);
        resource->LoadFromNode(child);
        Resources.push_back(std::move(resource));
    }
    return true;
}

QString TDiapositiveType::TemplateFileName() const
{
    return Name.isEmpty() ? QString() : Name + QLatin1String(".xsl");
}

QString TDiapositiveType::TemplatePath() const
{
    return IncludeTrailingPathDelimiter(Folder()) + TemplateFileName();
}

bool TDiapositiveType::IsMediaMark(const QString& elementName) const
{
    return SameTextAscii(elementName, MediaMark);
}

void TDiapositiveType::LoadTemplate()
{
    VC_ASSERT_MAIN_THREAD();
    FTemplate.reset();
    LogErrors(LogSource, [this] { CompileTemplate(); });
}

void TDiapositiveType::CompileTemplate()
{
    const QString path = TemplatePath();
    TXmlDocument stylesheet;
    LoadXmlFile(stylesheet, path, QStringLiteral("Cannot find template %1"),
                [this](const TXmlParseError& error) {
                    return QStringLiteral("Error while parsing template %1 : %2").arg(Name, error.Reason);
                });
    FTemplate = TXsltTemplate::Compile(stylesheet);
}
