/* Export marking of the library's public calls. */
#ifndef VOKOEM_EXPORT_H
#define VOKOEM_EXPORT_H

#if defined(_WIN32)
#if defined(VOKOEM_BUILDING)
#define VOKOEM_API __declspec(dllexport)
#elif defined(VOKOEM_DLL_IMPORT)
#define VOKOEM_API __declspec(dllimport)
#else
#define VOKOEM_API
#endif
#elif defined(__GNUC__)
#define VOKOEM_API __attribute__((visibility("default")))
#else
#define VOKOEM_API
#endif

#endif /* VOKOEM_EXPORT_H */
