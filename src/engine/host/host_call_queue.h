#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace relaycast {

// Where the engine sends the host calls that may wait on the network: stopping an output,
// releasing one (libobs joins the output's connecting thread there) and releasing a pipeline.
// Calls handed over on one strand run one at a time, in the order they were handed over, so a
// release always follows the calls made on the same object before it. Calls of different
// strands never wait for each other: an output stuck connecting to a server that never answers
// holds up nothing but its own strand. The interface thread only starts outputs and reads their
// counters itself.
class HostCallQueue {
public:
    virtual ~HostCallQueue() = default;
    // Runs `call` after every call handed over on the same `strand` before it. `strand` is only
    // compared, never followed (an object's address makes a good one). Never throws into the
    // caller; a call that throws is logged and its strand goes on.
    virtual void post(const void* strand, std::function<void()> call) = 0;
};

// The plug-in's queue: a thread for each strand that has calls to run, ended when it has none.
// It lives as long as the process and is never destroyed, so nothing waits for its threads when
// the process ends, and a thread still inside a given-up call never meets a destroyed lock.
HostCallQueue& backgroundHostCalls();

// The plug-in's share of OBS's exit, from the host's exit event to the end of the unload: one
// bound however many host calls are stuck. Outputs get the first kExitGrace to close by
// themselves; then their stuck connections are closed under them (abortOutputConnections), and
// whatever is still stuck when kExitBound is up is given up (stopBackgroundHostCalls).
inline constexpr std::chrono::milliseconds kExitGrace{5000};
inline constexpr std::chrono::milliseconds kExitBound{10000};

// Waits until every call handed to the background queue so far has run (tests that count host
// objects). Returns the milliseconds it waited.
long long drainBackgroundHostCalls();

// Waits at most `limit` for every call handed over so far to have run; true when they all ran.
bool drainBackgroundHostCallsWithin(std::chrono::milliseconds limit);

// Calls handed over that have not finished running.
int unfinishedBackgroundHostCalls();

// Module unload: waits at most `limit` for the calls still to run, then gives up on those that
// are stuck: a call already running finishes on its own, the calls behind it never run and what
// they hold is left to the host, which frees every output, encoder and service it still has when
// it shuts down right after. Returns true when nothing had to be given up. Later calls run
// again (a test host may load the plug-in's code again).
bool stopBackgroundHostCalls(std::chrono::milliseconds limit = std::chrono::milliseconds::max());

// True once the calls that were stuck at unload have been given up: host objects must then be
// left to the host rather than released, since it may already have freed them.
bool backgroundHostCallsAbandoned();

// Keeps `object` for the rest of the process, never destroyed: what a given-up call still
// holds is the host's to free at its shutdown.
void leaveToHost(std::shared_ptr<void> object);

} // namespace relaycast
