/*
 * The RLA format module. The library carries the whole reader and writer;
 * this module only names the format and points the probe and both opens at
 * the library's entry points.
 *
 * The source is built twice: as "rla" (files ending ".rla") and, with
 * RLA_MODULE_OLDER defined, as "rlb" (".rlb"), the variant whose
 * older-layout files keep a meaningful field word. Both read either layout
 * and write the current one, so both describe the same channels:
 *   - up to 3 colour channels, integer of 1 to 32 bits (float and double
 *     groups are stored too but have no bit in a width mask);
 *   - mattes and auxiliary channels of the same widths, at most 64 channels
 *     per image in all, so at most 61 of either beside 3 colour channels;
 *   - an active window smaller than the window; lines read in any order.
 */
#include <zep/plugin.h>
#include <zep/rla.h>

#ifdef RLA_MODULE_OLDER
#define RLA_MODULE_KEY "rlb"
#define RLA_MODULE_EXTENSION ".rlb"
#define RLA_MODULE_NAME "RLB"
#define RLA_MODULE_DESCRIPTION "run-length encoded image, older header variant"
#else
#define RLA_MODULE_KEY "rla"
#define RLA_MODULE_EXTENSION ".rla"
#define RLA_MODULE_NAME "RLA"
#define RLA_MODULE_DESCRIPTION "run-length encoded image"
#endif

/* Every width from 1 to 32 bits: bit n-1 stands for n bits. */
#define RLA_MODULE_WIDTHS 0xffffffffu

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = RLA_MODULE_KEY;
const char *imageExtension = RLA_MODULE_EXTENSION;
const char *imageName = RLA_MODULE_NAME;
const char *imageDescription = RLA_MODULE_DESCRIPTION;
const char *imageNameSyntax = "Name.####.Ext";
int32_t imageOrientation = 1;
int32_t imageNumberOfChannels = 3;
uint32_t imageBitsPerChannel = RLA_MODULE_WIDTHS;
int32_t imageNumberOfMattes = 61;
uint32_t imageBitsPerMatte = RLA_MODULE_WIDTHS;
int32_t imageNumberOfZChannels = 61;
uint32_t imageBitsPerZChannel = RLA_MODULE_WIDTHS;
int32_t imageSupportsActiveWindow = 1;
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_WRITE | ZEP_ACCESS_ANY_ORDER;

int imageIsFile(const char *path, FILE *stream) { return ZEP_rla_is_file(path, stream); }

int imageReadOpen(ZEP_OBJECT *handle) { return ZEP_rla_r_open(handle); }

int imageWriteOpen(ZEP_OBJECT *handle) { return ZEP_rla_w_open(handle); }
