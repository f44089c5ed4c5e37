#pragma once

#include <QtGlobal>

// The peak resident memory of the process in KiB since the last ResetPeakMemory (or since its start where the
// kernel does not allow the reset): what a streamed transfer must not grow by its size.
qint64 PeakMemoryKiB();
void ResetPeakMemory();
