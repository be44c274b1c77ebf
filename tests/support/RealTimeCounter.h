// The real-time counter (RealTimeCounter.cpp) linked into a test program:
// its heap functions, mutex locks, writes, sleeps and semaphore posts take the
// C library's place for every library in the process, and count the calls
// for which the test's function says yes on the calling thread.
#pragma once

extern "C" {

using PelvaneRtCountFilter = int (*)();

// Summed over all threads, since the start.
struct PelvaneRtCounts {
  long heap;      // malloc, free (of a block), calloc, realloc, the aligned ones
  long locks;     // pthread_mutex_lock of a mutex without priority inheritance
  long tryLocks;  // pthread_mutex_trylock of such a mutex
  long piLocks;   // lock or trylock of a mutex with priority inheritance
  long writes;    // writes that can block
  long sleeps;    // nanosleep and its kin, poll and select with a time-out
  long posts;     // sem_post
};

// Counts from zero the calls for which counted() is non-zero.
void pelvane_rtcount_start(PelvaneRtCountFilter counted);
PelvaneRtCounts pelvane_rtcount_stop();
}
