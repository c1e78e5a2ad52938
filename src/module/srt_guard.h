#pragma once

#include <string>
#include <vector>

namespace relaycast {

// Holds extra start-up references on the host's SRT transport library for the module's whole
// life, so that one SRT stream ending (and cleaning the library up) cannot cut the others.
class SrtGuard {
public:
    static constexpr int kMaxReferences = 1000;

    // Takes the references on the SRT library the process resolves srt_startup to (the build
    // the host's own SRT streams use), else on the first of the default names found (already
    // loaded, else loadable), and logs the result. The library handle is never released.
    void acquire();
    // The same over an explicit list of library names, tried in order; a loaded one whose
    // "srt_startup" is `boundStartup` comes first.
    void acquireFrom(const std::vector<std::string>& libraryNames,
                     const void* boundStartup = nullptr);

    // Gives back exactly as many references as were taken.
    void release();

    int referenceCount() const { return count_; }
    // The file of the library the references were taken on, when found through the process's
    // own resolution; empty otherwise.
    const std::string& libraryPath() const { return libraryPath_; }
    // Whether acquisition was attempted since construction or the last release.
    bool attempted() const { return attempted_; }

    // The library names tried on this platform, in order.
    static std::vector<std::string> defaultLibraryNames();
    // The "srt_startup" the host's modules call when one is loaded, else null. Hosts may carry
    // two SRT library builds (Debian's do); only the one their calls reach matters.
    static const void* hostBoundStartup();

private:
    using CleanupFn = int (*)();
    void takeReferences(void* library);

    CleanupFn cleanup_ = nullptr;
    std::string libraryPath_;
    int count_ = 0;
    bool attempted_ = false;
};

// The module's one guard. Its references are taken when the first SRT stream of the module
// starts, not at load: on hosts that carry two SRT library builds (Debian's OBS does), an SRT
// library that was ever started crashes the process in its static destructors at exit, so
// starting it at load would crash every exit, even of users who never stream over SRT.
// Interface thread only.
void holdSrtReferences();
// Gives back the module guard's references (at unload).
void releaseSrtReferences();
// The module guard, for inspection.
const SrtGuard& moduleSrtGuard();

} // namespace relaycast
