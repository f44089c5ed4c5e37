#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <string>

// A temporary folder for one test, removed afterwards. It lies inside a private folder of its own, so that a
// test may look at its parent (for files that should not have been written there) without seeing other tests
// that run at the same time.
class TTempFolder
{
public:
    TTempFolder();
    QString Path() const { return FPath; }
    // Absolute path of a file inside the folder.
    QString File(const QString& name) const;
    // Writes the bytes (creating sub-folders) and returns the absolute path.
    QString Write(const QString& name, const QByteArray& content) const;
    // Names of every entry of the folder, hidden ones included.
    QStringList Entries() const;

private:
    QTemporaryDir FRoot;
    QString FPath;
};

QByteArray ReadFileBytes(const QString& path);
// A readable name for a parameterised test case: its index and its text, letters and digits only.
std::string CaseName(size_t index, const std::string& text);
QString TestDataPath(const QString& name);
