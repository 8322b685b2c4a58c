#pragma once
// SIGTERM and SIGINT end the program the way closing its window does. The
// handler only writes one byte into a pipe; the GUI watches the pipe's
// read end and does the closing on its own thread.

namespace client {

// Installs the handlers (once); the pipe's read end (non-blocking), or -1
// when no pipe could be made.
int InstallTerminationPipe();

// Empties the pipe; true when a signal had arrived.
bool DrainTerminationPipe(int read_fd);

}  // namespace client
