#pragma once

#include <QString>

// A path made absolute against the current folder, without "." and ".." steps.
QString AbsolutePath(const QString& path);
// Creates the folder with its missing parents; raises EFileError when that fails.
void ForceFolder(const QString& folder);
