#pragma once

#include <atomic>

// A process-wide request to give up at once: every HTTP transfer in progress ends and no new one starts, so
// that a termination signal ends the program in order whatever the main thread is waiting on. It is set from
// a signal handler, so it is a lock-free atomic flag and nothing else. Once set it stays set for the run
// (tests withdraw it).
namespace AbortRequest {

inline std::atomic<bool> Flag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

// Async-signal-safe.
inline void Request() noexcept
{
    Flag.store(true, std::memory_order_relaxed);
}

inline bool Requested() noexcept
{
    return Flag.load(std::memory_order_relaxed);
}

inline void Withdraw() noexcept
{
    Flag.store(false, std::memory_order_relaxed);
}

} // namespace AbortRequest
