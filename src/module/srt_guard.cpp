#include "module/srt_guard.h"

#include "module/module_log.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace relaycast {
namespace {

using StartupFn = int (*)();

#ifdef _WIN32
void* findLibrary(const std::string& name) {
    const std::wstring wide(name.begin(), name.end());
    HMODULE handle = GetModuleHandleW(wide.c_str());
    if (!handle)
        handle = LoadLibraryW(wide.c_str());
    return handle;
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
void* findLibrary(const std::string& name) {
    return dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
}

void* loadLibrary(const std::string& name) {
    return dlopen(name.c_str(), RTLD_NOW);
}

void* findSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

// The build the host's own SRT code calls into: a host plug-in's reference to srt_startup binds
// to the first definition in the process's global scope, which may belong to a library other
// than the one that plug-in lists (Debian's OBS carries two builds). A reference on the handle,
// and the file it came from.
void* libraryBoundBySrtStartup(std::string& path) {
    void* entry = dlsym(RTLD_DEFAULT, "srt_startup");
    Dl_info info{};
    if (!entry || !dladdr(entry, &info) || !info.dli_fname)
        return nullptr;
    path = info.dli_fname;
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}
#endif

// The library the host's code calls wins: `boundStartup` is the start-up entry point its calls
// resolve to, when known. Then a library the process already loaded wins over one we would load
// ourselves: only the start-up count of the host's copy protects the host's streams.
void* locateSrtLibrary(const std::vector<std::string>& names, const void* boundStartup) {
    if (boundStartup) {
        for (const std::string& name : names) {
            void* handle = findLibrary(name);
            if (handle && findSymbol(handle, "srt_startup") == boundStartup)
                return handle;
        }
    }
    for (const std::string& name : names) {
        if (void* handle = findLibrary(name))
            return handle;
    }
#ifndef _WIN32
    for (const std::string& name : names) {
        if (void* handle = loadLibrary(name))
            return handle;
    }
#endif
    return nullptr;
}

} // namespace

std::vector<std::string> SrtGuard::defaultLibraryNames() {
#ifdef _WIN32
    return {"srt.dll"};
#else
    return {"libsrt.so.1.5", "libsrt-gnutls.so.1.5", "libsrt.so", "libsrt-gnutls.so"};
#endif
}

const void* SrtGuard::hostBoundStartup() {
#ifdef _WIN32
    return nullptr;
#else
    // Every module's calls bind to the first definition in the process's global scope. On
    // Debian that is libsrt-gnutls, which libobs brings in through libavformat before
    // obs-ffmpeg and its own libsrt are loaded: obs-ffmpeg's SRT output calls libsrt-gnutls.
    return dlsym(RTLD_DEFAULT, "srt_startup");
#endif
}

void SrtGuard::acquire() {
#ifndef _WIN32
    std::string path;
    if (void* library = libraryBoundBySrtStartup(path)) {
        attempted_ = true;
        libraryPath_ = path;
        takeReferences(library);
        return;
    }
#endif
    acquireFrom(defaultLibraryNames(), hostBoundStartup());
}

void SrtGuard::acquireFrom(const std::vector<std::string>& libraryNames, const void* boundStartup) {
    attempted_ = true;
    void* library = locateSrtLibrary(libraryNames, boundStartup);
    if (!library) {
        moduleLog(LOG_WARNING, "SRT library not found; streams to SRT servers may cut each other");
        return;
    }
    takeReferences(library);
}

void SrtGuard::takeReferences(void* library) {
    auto startup = reinterpret_cast<StartupFn>(findSymbol(library, "srt_startup"));
    auto cleanup = reinterpret_cast<CleanupFn>(findSymbol(library, "srt_cleanup"));
    if (!startup || !cleanup)
        return;
    cleanup_ = cleanup;
    for (int i = 0; i < kMaxReferences; ++i) {
        if (startup() < 0)
            break;
        ++count_;
    }
    moduleLog(LOG_INFO, "SRT protection active (%d references)", count_);
}

void SrtGuard::release() {
    if (cleanup_ && count_ > 0) {
        for (int i = 0; i < count_; ++i)
            cleanup_();
    }
    count_ = 0;
    cleanup_ = nullptr;
    attempted_ = false;
    libraryPath_.clear();
}

namespace {
SrtGuard g_moduleGuard;
} // namespace

void holdSrtReferences() {
    if (!g_moduleGuard.attempted())
        g_moduleGuard.acquire();
}

void releaseSrtReferences() {
    g_moduleGuard.release();
}

const SrtGuard& moduleSrtGuard() {
    return g_moduleGuard;
}

} // namespace relaycast
