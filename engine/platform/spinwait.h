// spinwait.h - a pause for a thread that spins while another finishes a
// few instructions' work: it lets the other hardware thread of the core run
// and keeps the spin from flooding the memory bus.
#pragma once

namespace vzrfs {

inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace vzrfs
