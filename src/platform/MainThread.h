#pragma once

#include <functional>

namespace platform {

// Runs fn on the application's main thread and returns after it has run.
// Called on the main thread it runs fn at once; called from a worker it blocks
// the worker until the main thread's event loop has run fn. A worker must
// therefore never call this while the main thread is blocked waiting for it.
// Without a QCoreApplication fn runs on the calling thread.
void runOnMainThread(const std::function<void()> &fn);

// True when called on the main (GUI) thread.
bool isMainThread();

} // namespace platform
