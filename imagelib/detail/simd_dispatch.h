#pragma once

// Hot image loops are compiled twice on x86-64, for AVX2 and for the baseline,
// and the loader picks the version the processor can run. Both versions do
// the same IEEE operations in the same order (no fused multiply-add), so the
// results are bit for bit the same; AVX2 only does eight lanes at a time.
// GCC only: clang cannot clone function templates. KVEL_NO_TARGET_CLONES
// (CMake's VALLEY_TARGET_CLONES=OFF, and every ThreadSanitizer build) keeps
// the baseline version alone.
//
// Loops that gain from AVX-512 (x86-64-v4) get a third version: those that
// narrow floats to bytes or shorts, whose truncating moves replace AVX2's
// mask-and-pack sequence, and long runs of float arithmetic, which take 16
// lanes an instruction (the library prefers 512-bit vectors where they
// exist). That level also has fused multiply-add; the library is built with
// -ffp-contract=off, so the compiler never fuses a product and a sum.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(KVEL_NO_TARGET_CLONES)
#define KVEL_WIDE_LOOP __attribute__((target_clones("avx2", "default")))
#define KVEL_AVX512_LOOP __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define KVEL_WIDE_LOOP
#define KVEL_AVX512_LOOP
#endif

// Kernels written with AVX2 intrinsics carry KVEL_AVX2 and run where
// hasAvx2() says the processor can; the caller's plain loop does the rest.
#if defined(__x86_64__) && defined(__GNUC__)
#define KVEL_AVX2 __attribute__((target("avx2")))
inline bool hasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif
