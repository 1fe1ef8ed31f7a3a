#pragma once

// Hot image loops are compiled twice on x86-64, for AVX2 and for the baseline,
// and the loader picks the version the processor can run. Both versions do
// the same IEEE operations in the same order (no fused multiply-add), so the
// results are bit for bit the same; AVX2 only does eight lanes at a time.

#if defined(__x86_64__) && defined(__GNUC__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define KVEL_WIDE_LOOP __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef KVEL_WIDE_LOOP
#define KVEL_WIDE_LOOP
#endif
