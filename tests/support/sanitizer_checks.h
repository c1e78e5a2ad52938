#pragma once

namespace relaycast::test {

// Test mains that end with _Exit (the host's two SRT libraries crash in their static
// destructors) skip what a sanitizer does at a normal exit: the leak check, and the failing
// exit status after ThreadSanitizer reports. This does both now: it returns `status`, or 1 when
// a leak or a report was found. Without a sanitizer it returns `status`.
int withSanitizerChecks(int status);

// With the leak checker: keeps every library loaded now from being unloaded later (the host
// unloads its modules and graphics driver at shutdown). What a library still holds in its
// globals would otherwise show up as leaks of an "<unknown module>" that nobody can name.
// Call before the host shuts down; nothing without the leak checker.
void keepLibrariesForLeakCheck();

// True in a build with a sanitizer, whose allocator keeps freed memory aside for a while.
bool sanitizerBuild();

} // namespace relaycast::test
