#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <string>

// A temporary folder for one test, removed afterwards.
class TTempFolder
{
public:
    TTempFolder();
    QString Path() const { return FDir.path(); }
    // Absolute path of a file inside the folder.
    QString File(const QString& name) const;
    // Writes the bytes (creating sub-folders) and returns the absolute path.
    QString Write(const QString& name, const QByteArray& content) const;
    // Names of every entry of the folder, hidden ones included.
    QStringList Entries() const;

private:
    QTemporaryDir FDir;
};

QByteArray ReadFileBytes(const QString& path);
// A readable name for a parameterised test case: its index and its text, letters and digits only.
std::string CaseName(size_t index, const std::string& text);
QString TestDataPath(const QString& name);
