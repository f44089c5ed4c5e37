#pragma once

#include <QtGlobal>

// True on the thread that runs the application's event loop; also true when there is no application object
// (benchmarks and tools that use the content model alone).
bool OnMainThread();

// Objects that live on the main thread (the content model and its rendering, serial exchanges, web views,
// widgets) state it where they are touched; the check stays live in every tested build.
#define VC_ASSERT_MAIN_THREAD() Q_ASSERT_X(OnMainThread(), Q_FUNC_INFO, "called outside the main thread")
