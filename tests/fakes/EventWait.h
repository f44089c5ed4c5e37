#pragma once

#include <functional>

// Serves the calling (main) thread's events, hand-overs of workers included, until the condition holds or the
// time-out passes; gives the condition's last value. Never sleeps longer than a millisecond at a time.
bool ServeEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
