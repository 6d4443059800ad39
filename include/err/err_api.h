/* ERR_API marks the functions that liberr exports. The library is built with hidden
 * visibility: a function without ERR_API stays inside the library. */
#ifndef ERR_ERR_API_H
#define ERR_ERR_API_H

#if defined(_WIN32)
#if defined(ERR_BUILDING_LIBRARY)
#define ERR_API __declspec(dllexport)
#else
#define ERR_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define ERR_API __attribute__((visibility("default")))
#else
#define ERR_API
#endif

#endif
