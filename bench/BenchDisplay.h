#pragma once

#include "XvfbServer.h"

#include <QSize>

#include <chrono>
#include <functional>

// Starts a private Xvfb with a black root, as a fresh wall would be, and sets the process up for the web
// views on it as the program is set up: the toolkit's X11 platform, the web views sharing its OpenGL
// contexts, the engine's set-up dump quiet. Before the application object is made. False, with a message,
// when the server cannot start.
bool StartBenchDisplay(TXvfbServer& server, QSize screen);

// Serves the main thread's events (workers' hand-overs, the web views) until the condition holds or the time
// is up; the condition's last value.
bool ServeUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
