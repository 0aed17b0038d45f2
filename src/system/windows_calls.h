// What the Windows console calls share with the file calls.
#pragma once

// The errno that perror explains for a failed Windows call (a GetLastError value).
int errnoOf(unsigned long error);
// Whether the handle is a console's.
bool isConsole(void* handle);
