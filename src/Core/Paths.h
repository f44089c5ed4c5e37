#pragma once

#include <QString>

// A path made absolute against the current folder, without "." and ".." steps.
QString AbsolutePath(const QString& path);
// Creates the folder with its missing parents; raises EFileError when that fails.
void ForceFolder(const QString& folder);
// The path made absolute, with every symbolic link resolved as far as the path exists (its longest existing
// part resolved, the rest appended as it is); no trailing separator except for "/".
QString ResolvedPath(const QString& path);
// Whether the path is the folder or lies below it, both taken as ResolvedPath gives them.
bool PathWithin(const QString& path, const QString& folder);
