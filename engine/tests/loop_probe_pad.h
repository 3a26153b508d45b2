// Pre-included into the placement test's own copies of the memory loops:
// before each loop's alignment, code that ends 16 bytes past a 64-byte
// boundary (no-ops), so that a loop lands on a boundary only through its
// own alignment, wherever the linker puts its function.
#if defined(__x86_64__)
#define VX_LOOP_PROBE_PAD ".p2align 6\n\t.fill 16, 1, 0x90\n"
#elif defined(__aarch64__)
#define VX_LOOP_PROBE_PAD ".p2align 6\n\t.fill 4, 4, 0xd503201f\n"
#endif
