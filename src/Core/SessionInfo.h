#pragma once

#include <QProcessEnvironment>

// True when the program runs over a remote connection: the X display names another host (X forwarding
// included), or the session is an SSH or XRDP one.
bool IsRemoteSession(const QProcessEnvironment& environment);
