// Whether the reference database is being written right now. The desktop program does
// not quit while it is: a half-written database would be lost with the process.
#pragma once

bool ReferenceUpdateRunning();
// Set by the thread that writes the reference database around its write (and by tests).
void SetReferenceUpdateRunning(bool running);
