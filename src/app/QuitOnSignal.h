#pragma once

// SIGTERM, SIGINT and SIGHUP end the message loop, so that a service stop closes the window and frees
// everything in order instead of killing the process in the middle of a write. Every event loop that runs
// ends, a modal box's included; a signal that comes before the main loop runs is remembered.
void QuitOnTerminationSignals();
// True once a termination signal has come.
bool TerminationRequested();
