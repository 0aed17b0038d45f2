// What the POSIX signal handlers need of the file calls.
#pragma once

// Removes the temporary file of a write in progress, if any; async-signal-safe,
// for a handler of a signal that ends the program.
void removeLiveTemporary();
