#include "ProcessStats.h"

#include <QDir>
#include <QFile>

#include <map>

namespace {

struct TProcessInfo
{
    pid_t Parent = 0;
    qint64 CpuTicks = 0; // user and system
};

std::map<pid_t, TProcessInfo> Processes()
{
    std::map<pid_t, TProcessInfo> processes;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // The name is in parentheses and may hold spaces: the fields start after the last ')'.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            continue;
        // Fields from the state on: ppid is the 2nd, utime the 12th, stime the 13th.
        processes[pid] = TProcessInfo{fields[1].toInt(), fields[11].toLongLong() + fields[12].toLongLong()};
    }
    return processes;
}

// Kibibytes of a "Name:   1234 kB" line.
qint64 KibLine(const QString& path, const QByteArray& name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(QByteArray(name + ':')))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLongLong();
    return 0;
}

int Entries(const QString& folder)
{
    return static_cast<int>(
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

} // namespace

std::vector<pid_t> ProcessTree(pid_t root, pid_t excluded)
{
    const std::map<pid_t, TProcessInfo> processes = Processes();
    std::vector<pid_t> found{root};
    for (size_t i = 0; i < found.size(); ++i)
        for (const auto& [pid, info] : processes)
            if (info.Parent == found[i] && pid != excluded)
                found.push_back(pid);
    return found;
}

qint64 CpuTicks(const std::vector<pid_t>& pids)
{
    const std::map<pid_t, TProcessInfo> processes = Processes();
    qint64 ticks = 0;
    for (const pid_t pid : pids)
        if (const auto it = processes.find(pid); it != processes.end())
            ticks += it->second.CpuTicks;
    return ticks;
}

TProcessSample SampleProcesses(const std::vector<pid_t>& pids)
{
    TProcessSample sample;
    for (const pid_t pid : pids) {
        const QString folder = QStringLiteral("/proc/%1/").arg(pid);
        if (!QFile::exists(folder))
            continue;
        sample.RssMiB += static_cast<double>(KibLine(folder + "status", "VmRSS")) / 1024.0;
        sample.PssMiB += static_cast<double>(KibLine(folder + "smaps_rollup", "Pss")) / 1024.0;
        sample.FileDescriptors += Entries(folder + "fd");
        sample.Threads += Entries(folder + "task");
        ++sample.Processes;
    }
    return sample;
}
