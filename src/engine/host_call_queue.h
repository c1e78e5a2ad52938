#pragma once

#include <functional>

namespace relaycast {

// Where the engine sends the host calls that may wait on the network: stopping an output,
// releasing one (libobs joins the output's connecting thread there) and releasing a pipeline
// after its outputs. Calls run one at a time in the order they were handed over, so a release
// always follows the calls made on the same object before it. The interface thread only starts
// outputs and reads their counters itself.
class HostCallQueue {
public:
    virtual ~HostCallQueue() = default;
    // Runs `call` after every call handed over before it. Never throws into the caller; a call
    // that throws is logged and the queue goes on.
    virtual void post(std::function<void()> call) = 0;
};

// The plug-in's queue: one background thread, started with the first call.
HostCallQueue& backgroundHostCalls();

// Waits until every call handed to the background queue so far has run (host exit, and tests
// that count host objects). Returns the milliseconds it waited.
long long drainBackgroundHostCalls();

// Drains the background queue and ends its thread (module unload). A later call starts it again.
void stopBackgroundHostCalls();

} // namespace relaycast
