#pragma once

#include <cstdint>

// Live heap blocks and bytes of this test program, counted at every global
// operator new/delete and at every allocation of the physics library (which
// allocates through its own aligned allocator, not operator new). Installed
// before main runs.
struct HeapCount {
    std::int64_t blocks;
    std::int64_t bytes;
};
HeapCount liveHeap();
