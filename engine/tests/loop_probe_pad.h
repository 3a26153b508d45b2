// Pre-included into the probe copies of the memory loops: no-ops ending 16
// bytes past a 64-byte boundary before each loop's own alignment.
#if defined(__x86_64__)
#define VX_LOOP_PROBE_PAD ".p2align 6\n\t.fill 16, 1, 0x90\n"
#elif defined(__aarch64__)
#define VX_LOOP_PROBE_PAD ".p2align 6\n\t.fill 4, 4, 0xd503201f\n"
#endif
