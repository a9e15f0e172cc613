#pragma once

// Waiting for a condition instead of for a fixed time. QtCore only, so model and
// widget tests share it (widget tests create their QApplication first).

#include <QCoreApplication>
#include <functional>

namespace testsupport {

// The test program's application object: the existing one, or a QCoreApplication.
QCoreApplication *coreApp();

// Polls done() until it holds or timeoutMs passed; returns done()'s last answer. On the
// application's thread the event loop runs meanwhile, so queued signals, timers and
// posted events (also deferred deletes) reach their receivers.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000);

// The same without delivering any event: for helpers that start something (a server, a
// process) and must not run the caller's pending events meanwhile.
bool pollUntil(const std::function<bool()> &done, int timeoutMs = 10000);

// A fixed wait with the event loop running: only where the delay itself is what a test
// is about (nothing may happen within it).
void settle(int ms);

// Returns once every call queued to the application's thread before this one has been
// delivered: the positive sign that nothing queued earlier is still on its way. Call it
// on the application's thread; false if the marker did not come through in time.
bool flushQueuedCalls(int timeoutMs = 10000);

// Runs the event loop until a precise timer of ms, started now on the application's
// thread, has fired. Qt fires due timers in the order they fall due, so every timer of
// this thread due before it has fired by then, however late the loop got to run: the
// wait for "a timer-driven change did not happen" where the interval is what is tested.
bool passTimer(int ms, int timeoutMs = 10000);

// Delivers what is already queued for this thread, including deferred deletes, without waiting.
void processPendingEvents();

} // namespace testsupport
