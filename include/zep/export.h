/*
 * Export and linkage macros shared by every public header.
 *
 * The library is built with hidden visibility; ZEP_API marks the names that
 * libzep.so exports. Every exported name has C linkage: headers wrap their
 * declarations in ZEP_BEGIN_DECLS / ZEP_END_DECLS.
 */
#ifndef ZEP_EXPORT_H
#define ZEP_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define ZEP_API __attribute__((visibility("default")))
#define ZEP_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ZEP_API
#define ZEP_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
#define ZEP_BEGIN_DECLS extern "C" {
#define ZEP_END_DECLS }
#else
#define ZEP_BEGIN_DECLS
#define ZEP_END_DECLS
#endif

#endif /* ZEP_EXPORT_H */
