#pragma once

// The C library's rand() and srand(): the same generator (its additive
// generator over 128 bytes of state) and so the same draws, seed for seed,
// but kept in the engine's own state rather than the library's. The library
// guards its state with a lock that a fork does not reset: a worker forked
// while another thread of the window was inside rand() would wait on that
// lock for ever.
//
// There is one state for the process, as rand() has: unseeded it starts as
// srand(1) leaves it, and a test that draws without seeding continues where
// the last draw of this process left it (in a worker: the parent's last draw
// before the fork). One thread at a time uses it: the thread that runs the
// tests, or a worker's only thread.

// The next draw, 0 .. RAND_MAX.
int cRand();
// Starts the sequence that srand(seed) starts.
void cSrand(unsigned seed);
