#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cctype>

TTempFolder::TTempFolder() : FPath(FRoot.filePath(QStringLiteral("test")))
{
    EXPECT_TRUE(FRoot.isValid());
    EXPECT_TRUE(QDir().mkpath(FPath));
}

QString TTempFolder::File(const QString& name) const
{
    return QDir(FPath).filePath(name);
}

QString TTempFolder::Write(const QString& name, const QByteArray& content) const
{
    const QString path = File(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
    return path;
}

QStringList TTempFolder::Entries() const
{
    return QDir(FPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                 QDir::Name);
}

QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString TestDataPath(const QString& name)
{
    return QStringLiteral(VC_TEST_DATA_DIR "/") + name;
}

std::string CaseName(size_t index, const std::string& text)
{
    std::string name = std::to_string(index) + "_";
    for (char c : text)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}
