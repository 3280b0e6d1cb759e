#pragma once

#include <functional>

class QObject;

// Calls Ended on the GUI thread when the desktop session or the system asks the program to end
// (SIGTERM at log-off or shutdown, SIGHUP when its terminal goes away, SIGINT), instead of the
// process being killed mid-way: the program then ends through its own shutdown, with exit code 0.
void WatchSessionEnd(QObject* Owner, std::function<void()> Ended);
