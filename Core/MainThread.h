#pragma once

#include <functional>

// Hand-over to the thread that runs the application's event loop.
class MainThread {
public:
    // Queues fn to run on the main thread; never runs it at once, even on the main thread.
    static void post(std::function<void()> fn);
    static bool isCurrent();
};
