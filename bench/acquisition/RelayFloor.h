// The least a paced pipeline of threads can cost on this machine: a timer
// thread that wakes at a fixed rate and hands a counter on through a chain
// of threads (mutex and condition variable per hand-off) to the calling
// thread. No work besides the wake-ups, so its CPU per image is the floor
// that scheduling alone sets for a pipeline of that many threads; the
// acquisition pipeline and the peer are compared with it in the same run.
#pragma once

#include <cstddef>

namespace orvex::bench {

struct RelayFigures {
    unsigned long images = 0;
    double elapsedSeconds = 0.0;
    double cpuUserSeconds = 0.0; // process CPU, every thread, over the timed window
    double cpuSystemSeconds = 0.0;
};

// `threads` (2 or more) counts the timer thread and the calling thread.
RelayFigures runRelay(unsigned threads, double rate, unsigned long warmup, unsigned long images);

} // namespace orvex::bench
