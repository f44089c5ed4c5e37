#pragma once

#include <QString>

#include <functional>
#include <vector>

// Process-wide state that one test can leave behind for the next: the slide-type registry and its folder,
// the folders XML documents may read, the random source, the log and its sink, the current folder (and, in
// GUI suites, the message-box answers). After every test a listener fails the test that left any of it
// changed, and puts it back, so no test passes or fails because of the one that ran before it.
//
// A check returns what was left changed (empty when nothing) after putting it back.
using TStateCheck = std::function<QString()>;
void InstallGlobalStateCheck(std::vector<TStateCheck> extraChecks = {});
