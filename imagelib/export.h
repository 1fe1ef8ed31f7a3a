#pragma once

// Marks the library's interface. A shared libkvel is built with hidden
// visibility, so only what carries KVEL_API is exported.
#if defined(__GNUC__) || defined(__clang__)
#define KVEL_API __attribute__((visibility("default")))
#else
#define KVEL_API
#endif
