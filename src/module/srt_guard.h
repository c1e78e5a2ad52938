#pragma once

#include <string>
#include <vector>

namespace relaycast {

// Holds extra start-up references on the host's SRT transport library for the module's whole
// life, so that one SRT stream ending (and cleaning the library up) cannot cut the others.
class SrtGuard {
public:
    static constexpr int kMaxReferences = 1000;

    // Takes the references on the first SRT library found (already loaded, else loadable) and
    // logs the result. The library handle is never released.
    void acquire();
    // The same over an explicit list of library names, tried in order.
    void acquireFrom(const std::vector<std::string>& libraryNames);

    // Gives back exactly as many references as were taken.
    void release();

    int referenceCount() const { return count_; }

    // The library names tried on this platform, in order.
    static std::vector<std::string> defaultLibraryNames();

private:
    using CleanupFn = int (*)();
    CleanupFn cleanup_ = nullptr;
    int count_ = 0;
};

} // namespace relaycast
