#pragma once

// SIGTERM, SIGINT and SIGHUP end the message loop, so that a service stop closes the window and frees
// everything in order instead of killing the process in the middle of a write.
void QuitOnTerminationSignals();
