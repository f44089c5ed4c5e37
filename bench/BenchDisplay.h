#pragma once

#include "XvfbServer.h"

#include <QSize>

// Starts a private Xvfb with a black root, as a fresh wall would be, and sets the process up for the web
// views on it as the program is set up: the toolkit's X11 platform, the web views sharing its OpenGL
// contexts, the engine's set-up dump quiet. Before the application object is made. False, with a message,
// when the server cannot start.
bool StartBenchDisplay(TXvfbServer& server, QSize screen);
