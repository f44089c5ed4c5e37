#pragma once

#include <QtGlobal>

#include <sys/types.h>

#include <vector>

// What the benchmarks read of running processes, from /proc.

// This process tree from root down, leaving out excluded and everything below it (0: nothing left out).
std::vector<pid_t> ProcessTree(pid_t root, pid_t excluded = 0);

// Clock ticks of user and system time of the processes together.
qint64 CpuTicks(const std::vector<pid_t>& pids);

struct TProcessSample
{
    double RssMiB = 0;
    double PssMiB = 0;
    int Processes = 0;
    int FileDescriptors = 0;
    int Threads = 0;
};

// The processes' resident and proportional memory, open descriptors and threads, added up.
TProcessSample SampleProcesses(const std::vector<pid_t>& pids);
