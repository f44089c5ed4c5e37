#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a Qt application object (the main thread of the content model and the
// serial exchanges), the XML libraries set up as the program sets them up, a log whose lines are formatted
// and dropped, and one private folder for the files an input is written to.

// Once per process; safe to call at every input.
void FuzzInitialize();
// The process's private folder (absolute, no trailing "/").
QString FuzzFolder();
// Writes the bytes to a file of that name (relative to FuzzFolder, parents created) and gives its path.
QString FuzzWriteFile(const QString& relativePath, const QByteArray& bytes);

// Puts the process-wide state back as FuzzInitialize left it: no slide types, no template folder, no
// readable folders, the default random source, a fresh log. Call after each input.
void FuzzResetGlobalState();

// The input split at the first NUL byte: what comes before, and what comes after (empty without a NUL).
struct TFuzzParts
{
    QByteArray First;
    QByteArray Second;
};
TFuzzParts FuzzSplit(const uint8_t* data, size_t size);

// A property the code under test must keep; a broken one is a finding, reported and fatal.
#define FUZZ_CHECK(condition, what)                                                                          \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            FuzzFail(#condition, what);                                                                      \
    } while (false)
[[noreturn]] void FuzzFail(const char* condition, const QString& what);
