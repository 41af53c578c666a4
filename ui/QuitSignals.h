// SIGTERM and SIGINT (a session that logs out, a service manager, Ctrl+C in a terminal)
// end the desktop program in order, as its Exit command does, instead of killing it
// halfway: the signal only writes a byte to a pipe, and the window thread reads it and
// calls the given quit.
#pragma once

#include <functional>

class QObject;

// Installs the handlers; `quit` runs on the thread of `owner` (the window thread). False
// when the pipe cannot be made (the signals then keep their default action).
bool QuitOnTermSignals(QObject* owner, std::function<void()> quit);
