#pragma once

#include "VitrelleResource.h"
#include "XsltTemplate.h"

#include <QString>

#include <memory>
#include <vector>

// A slide type: the XSL template that turns its slides into HTML pages, where their media come from, the
// element name that marks a media reference in a slide, and the files the template itself needs. All types
// live in one registry, filled at start-up from the types file and freed when the agent goes.
class TDiapositiveType
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TDiapositiveType"};

    TDiapositiveType() = default;

    TDiapositiveType(const TDiapositiveType&) = delete;
    TDiapositiveType& operator=(const TDiapositiveType&) = delete;

    // ---- the registry (main thread) ----
    // Appends the types of the file to the registry; failures are logged and give false.
    static bool LoadTypes(const QString& path);
    // First registered type of that name, ignoring ASCII letter case; null when none.
    static TDiapositiveType* FindType(const QString& name);
    static void FreeTypes();
    static const std::vector<std::unique_ptr<TDiapositiveType>>& Types();
    static QString TemplateFolder();
    static void SetTemplateFolder(const QString& folder);

    // ---- one type ----
    bool LoadFromNode(TXmlNode element);
    QString TemplateFileName() const;
    QString TemplatePath() const;
    QString MediaBaseURL() const { return MediaURL.isEmpty() ? URL : MediaURL; }
    bool IsMediaMark(const QString& elementName) const;
    // Parses and compiles the template; failures are logged, and the next render tries again.
    void LoadTemplate();
    bool TemplateLoaded() const { return FTemplate != nullptr; }
    // The compiled template, null while not loaded.
    std::shared_ptr<const TXsltTemplate> Template() const { return FTemplate; }

    QString Name;
    QString URL;
    QString MediaURL;
    QString MediaMark = QStringLiteral("image");
    QString MediaDir;
    std::vector<std::unique_ptr<TVitrelleResource>> Resources;
    // Bounds of rendering one slide of this type.
    TTransformLimits TransformLimits;

private:
    void CompileTemplate();

    std::shared_ptr<const TXsltTemplate> FTemplate;
};
