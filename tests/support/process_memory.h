#pragma once

namespace relaycast::test {

// Resident size of this process in KiB.
long residentKib();

// Memory handed out by the C library's allocator and not given back, in KiB.
long heapInUseKib();

} // namespace relaycast::test
