// Symbol export for the orvex library.
#pragma once

#if defined(_WIN32)
#if defined(ORVEX_BUILDING_LIBRARY)
#define ORVEX_API __declspec(dllexport)
#else
#define ORVEX_API __declspec(dllimport)
#endif
#else
#define ORVEX_API __attribute__((visibility("default")))
#endif

// Plain functions exported without C++ name mangling.
#define ORVEX_C_API extern "C" ORVEX_API
