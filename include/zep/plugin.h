/*
 * For authors of plug-in format modules.
 *
 * A module is a shared object that the application loads (dlopen) and hands
 * to ZEP_init through its enumerator. The library looks the names below up
 * in the module by name; a module defines the ones it provides, with C
 * linkage and default visibility (ZEP_PLUGIN_EXPORT). Data names are
 * variables that the library reads once at start-up; function names are
 * called through their addresses.
 *
 * Required: version (= ZEP_PLUGIN_VERSION, "3.2"), imageKey, imageName,
 * imageOrientation; imageReadOpen when imageAccess has ZEP_ACCESS_READ;
 * imageWriteOpen when it has ZEP_ACCESS_WRITE. Every other name falls back
 * to its default (in brackets).
 *
 * An open routine receives the new handle: a read open fills the handle's
 * description (handle->info, its num_images and images) from the file; both
 * fill handle->priv and the routine slots they support, and return 1, or 0
 * after setting zep__err and reporting (the library then frees the handle).
 * The close routine frees the driver's data and then the handle itself,
 * normally with zep__free_obj.
 */
#ifndef ZEP_PLUGIN_H
#define ZEP_PLUGIN_H

#include <stdint.h>
#include <stdio.h>

#include <zep/image.h>

#if defined(__GNUC__) || defined(__clang__)
#define ZEP_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define ZEP_PLUGIN_EXPORT
#endif

ZEP_BEGIN_DECLS

/* ---- Data names ---------------------------------------------------------- */

ZEP_PLUGIN_EXPORT extern const char *version;          /* "3.2" */
ZEP_PLUGIN_EXPORT extern const char *imageKey;         /* required */
ZEP_PLUGIN_EXPORT extern const char *imageExtension;   /* [""] with its dot: ".rla" */
ZEP_PLUGIN_EXPORT extern const char *imageName;        /* required */
ZEP_PLUGIN_EXPORT extern const char *imageDescription; /* [null] */
ZEP_PLUGIN_EXPORT extern const char *imageFormatString; /* ["%s.%04.4d%s"] */
ZEP_PLUGIN_EXPORT extern const char *imageNameSyntax;   /* [null] */
ZEP_PLUGIN_EXPORT extern int32_t imageAddExtension;     /* [1] */
ZEP_PLUGIN_EXPORT extern int32_t imageUsage;            /* [1] */
ZEP_PLUGIN_EXPORT extern int32_t imageOrientation;      /* required */
ZEP_PLUGIN_EXPORT extern int32_t imageBitsPerPaletteEntry; /* [0] */
ZEP_PLUGIN_EXPORT extern int32_t imageNumberOfChannels;    /* [3] */
ZEP_PLUGIN_EXPORT extern uint32_t imageBitsPerChannel;     /* [0x80]: bit n-1 for n bits */
ZEP_PLUGIN_EXPORT extern int32_t imageNumberOfMattes;      /* [0] */
ZEP_PLUGIN_EXPORT extern uint32_t imageBitsPerMatte;       /* [0] */
ZEP_PLUGIN_EXPORT extern int32_t imageNumberOfZChannels;   /* [0] */
ZEP_PLUGIN_EXPORT extern uint32_t imageBitsPerZChannel;    /* [0] */
ZEP_PLUGIN_EXPORT extern int32_t imageSupportsActiveWindow; /* [0] */
ZEP_PLUGIN_EXPORT extern int32_t imageAccess;               /* [12]: ZEP_ACCESS_* */
ZEP_PLUGIN_EXPORT extern int32_t imageMultiFrame;           /* [0] */
ZEP_PLUGIN_EXPORT extern uint8_t imageHardLinkDuplicates;   /* [1] */
ZEP_PLUGIN_EXPORT extern uint8_t imageSupportRemoteAccess;  /* [0] */

/* ---- Function names ------------------------------------------------------ */

/* Called once by ZEP_init; 0 rejects the module. */
ZEP_PLUGIN_EXPORT int imageInit(void);
/* Called by ZEP_exit; the result is ignored. */
ZEP_PLUGIN_EXPORT int imageDone(void);
ZEP_PLUGIN_EXPORT int imageCapability(ZEP_CAPABILITY **capabilities, int *first_count,
                                      int *second_count, int *num_capabilities);
ZEP_PLUGIN_EXPORT int imageCapsAvailUpdate(void *a, void *b);
ZEP_PLUGIN_EXPORT int imageReadOpen(ZEP_OBJECT *handle);
ZEP_PLUGIN_EXPORT int imageWriteOpen(ZEP_OBJECT *handle);
/* True when the file is of this format; with a null stream, opens path. */
ZEP_PLUGIN_EXPORT int imageIsFile(const char *path, FILE *stream);
ZEP_PLUGIN_EXPORT int imagePrivateUIPopup(void *argument);
ZEP_PLUGIN_EXPORT int imagePrivateUIPopdown(void);

ZEP_END_DECLS

#endif /* ZEP_PLUGIN_H */
