#pragma once

// SIGTERM, SIGINT and SIGHUP end the message loop, so that a service stop closes the window and frees
// everything in order instead of killing the process in the middle of a write. Every event loop that runs
// ends, a modal box's included. They also raise the process-wide abort request (AbortRequest.h), which ends a
// transfer the main thread may be waiting in.
void QuitOnTerminationSignals();

// A termination signal has arrived (also one that came before the message loop ran, which ending the loop
// does not see).
bool TerminationRequested();
