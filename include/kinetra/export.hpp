#pragma once

// Symbols of the public interface carry KINETRA_API; the library is built with hidden
// visibility, so everything else stays internal to it.
#if defined(_WIN32)
#if defined(KINETRA_BUILDING)
#define KINETRA_API __declspec(dllexport)
#else
#define KINETRA_API __declspec(dllimport)
#endif
#else
#define KINETRA_API __attribute__((visibility("default")))
#endif
