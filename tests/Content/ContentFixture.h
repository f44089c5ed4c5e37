#pragma once

#include "ContentRandom.h"
#include "DiapositiveType.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "Vitrelle.h"

#include <QDir>

#include <gtest/gtest.h>

// Real files in a temporary folder: a templates folder with its types file, and vitrelle files beside it.
class ContentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir().mkpath(Folder.File("Templates"));
        TDiapositiveType::SetTemplateFolder(Folder.File("Templates"));
        // The test folder stands for the cache: nested vitrelle files are read from it.
        SetXmlReadableFolders({Folder.File("Templates"), Folder.Path()});
    }
    void TearDown() override
    {
        TDiapositiveType::FreeTypes();
        TDiapositiveType::SetTemplateFolder(QString());
        SetXmlReadableFolders({});
        SetRandomSource(nullptr);
    }

    // Registers types given as <DiapositiveType> elements.
    void RegisterTypes(const QByteArray& types)
    {
        const QString path =
            Folder.Write("Templates/Types.xml", "<DiapositiveTypes>" + types + "</DiapositiveTypes>");
        ASSERT_TRUE(TDiapositiveType::LoadTypes(path));
    }
    // Types A and B without templates, enough for walking vitrelles.
    void RegisterTypesAB()
    {
        RegisterTypes("<DiapositiveType><Name>A</Name></DiapositiveType><DiapositiveType><Name>B</Name></"
                      "DiapositiveType>");
    }
    QString WriteTemplate(const QString& typeName, const QByteArray& xsl)
    {
        return Folder.Write("Templates/" + typeName + ".xsl", xsl);
    }
    QString WriteVitrelle(const QString& fileName, const QByteArray& content)
    {
        return Folder.Write(fileName, content);
    }
    std::shared_ptr<TVitrelle> Load(const QByteArray& content, const QString& fileName = "v.xml")
    {
        auto vitrelle = std::make_shared<TVitrelle>("listed", -1);
        EXPECT_TRUE(vitrelle->LoadFromFile(WriteVitrelle(fileName, content)))
            << Log.Lines().join('\n').toStdString();
        return vitrelle;
    }

    TTempFolder Folder;
    TLogCapture Log;
};

// A slide template that copies the slide's id and text into a page.
inline const QByteArray PageTemplate =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"html\" encoding=\"UTF-8\"/>"
    "<xsl:template match=\"/\"><html><body><h1><xsl:value-of select=\"Diapositive/@id\"/></h1>"
    "<p><xsl:value-of select=\"Diapositive/Text\"/></p></body></html></xsl:template>"
    "</xsl:stylesheet>";
