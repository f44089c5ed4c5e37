#include "ContentRandom.h"

#include <chrono>
#include <mutex>
#include <random>

namespace {
std::mutex RandomMutex;
std::function<int(int)> Source;

int DefaultSource(int bound)
{
    static std::mt19937 generator(
        static_cast<std::mt19937::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
    return std::uniform_int_distribution<int>(0, bound - 1)(generator);
}
} // namespace

int RandomBelow(int bound)
{
    if (bound <= 1)
        return 0;
    std::lock_guard lock(RandomMutex);
    const int value = Source ? Source(bound) : DefaultSource(bound);
    return (value >= 0 && value < bound) ? value : 0;
}

void SetRandomSource(std::function<int(int)> source)
{
    std::lock_guard lock(RandomMutex);
    Source = std::move(source);
}

bool RandomSourceReplaced()
{
    std::lock_guard lock(RandomMutex);
    return static_cast<bool>(Source);
}
