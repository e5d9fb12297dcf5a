/*
 * The table of every message the library reports: set, number, severity and
 * default text. Reports name an entry of this table rather than repeating
 * its text, so a message is written once.
 *
 * Set 902 covers the image-file core, operators, curves and the RLA format;
 * set 903 the configuration databases.
 */
#ifndef ZEP_SRC_ERROR_MESSAGES_H
#define ZEP_SRC_ERROR_MESSAGES_H

#include <zep/error.h>

namespace zep {

struct Message {
    int set;
    int number;
    int severity;
    const char *text;
};

// clang-format off
inline constexpr Message kInitDatabase{902, 30, 0, "%s, initializing database for %s request"};
inline constexpr Message kInvalidFilename{902, 35, 3, "Filename \"%s\" contains invalid characters"};
inline constexpr Message kBadOpenMode{902, 44, 3, "File open mode (\"%s\") not recognized; expecting \"r\" or \"w\""};
inline constexpr Message kCurveChannelCounts{902, 45, 3, "Incompatible response curve channel counts (channel counts must be the same for composited response curves)"};
inline constexpr Message kCurveChannelType{902, 46, 3, "Incompatible response curve channel type (channel must be of type ZEP_C_INTEGER for composited response curve)"};
inline constexpr Message kCurveElementCounts{902, 47, 3, "Incompatible response curve channel element counts"};
inline constexpr Message kInvalidChannelFormat{902, 49, 3, "Invalid channel format %s"};
inline constexpr Message kInvalidType{902, 51, 3, "Invalid type %s (either the output file format type or the channel type stored in the file is incorrect)"};
inline constexpr Message kCannotOpen{902, 52, 3, "Cannot open file %s; %s"};
inline constexpr Message kBadScanline{902, 53, 3, "Bad scanline: %d (out of range, or not in sequence if a sequential file)"};
inline constexpr Message kCannotReadScanline{902, 55, 3, "Cannot read scanline %d; %s"};
inline constexpr Message kCannotWrite{902, 56, 3, "Cannot write to %s; %s"};
inline constexpr Message kCannotWriteScanline{902, 57, 3, "Cannot write scanline %d; %s"};
inline constexpr Message kCannotDecodeScanline{902, 59, 3, "Cannot decode scanline %d"};
inline constexpr Message kNoMultipleImages{902, 61, 3, "%s cannot store multiple images"};
inline constexpr Message kNoMultipleAux{902, 69, 3, "%s cannot handle multiple auxiliary channels"};
inline constexpr Message kNoAuxType{902, 70, 3, "%s cannot handle auxiliary channel type"};
inline constexpr Message kNoAuxWidth{902, 71, 3, "%s cannot handle auxiliary channel width"};
inline constexpr Message kNoImageType{902, 72, 3, "%s cannot handle image channel type"};
inline constexpr Message kNoImageWidth{902, 73, 3, "%s cannot handle image channel width"};
inline constexpr Message kNoMultipleMatte{902, 78, 3, "%s cannot handle multiple matte channels"};
inline constexpr Message kNoMatteType{902, 79, 3, "%s cannot handle matte channel type"};
inline constexpr Message kNoMatteWidth{902, 80, 3, "%s cannot handle matte channel width"};
inline constexpr Message kNoAuxInfo{902, 81, 3, "The image has no auxiliary channel information"};
inline constexpr Message kNoMatteInfo{902, 82, 3, "The image has no matte channel information"};
inline constexpr Message kCurvePrecision{902, 83, 2, "Color response curve reduced to %d bits of precision (limit is 14 bits)"};
inline constexpr Message kSubImageLocked{902, 84, 2, "Cannot access sub image (attempted to access a locked sub image)"};
inline constexpr Message kNoAction{902, 87, 3, "%s cannot handle the requested action"};
inline constexpr Message kRequiredField{902, 88, 3, "Required field, %s, uninitialized"};
inline constexpr Message kUnknownCapability{902, 92, 2, "Unknown type-specific capability code (%d) specified when trying to open image file"};
inline constexpr Message kNoMemory{902, 94, 3, "No more internal memory"};
inline constexpr Message kMustBeDefined{902, 121, 3, "%s: %s must be defined"};
inline constexpr Message kNoIndexType{902, 132, 3, "%s cannot handle color index channel type"};
inline constexpr Message kNoIndexWidth{902, 133, 3, "%s cannot handle color index channel width"};
inline constexpr Message kNoPlaybackParams{902, 166, 2, "%s: cannot set the playback parameters for this %s file; (it is not a multiframe file, or this function is unsupported for this file type)"};
inline constexpr Message kNotOurFile{902, 167, 3, "%s: This does not appear to be a Korvantis file"};
inline constexpr Message kNoSetFrame{902, 192, 2, "%s: cannot set the current frame for this %s file; (it is not a multiframe file, or this function is unsupported for this file type)"};
inline constexpr Message kCapabilityNoName{902, 194, 2, "%s: no name field was found for capability %d of this image driver"};
inline constexpr Message kCapabilityEntryNoName{902, 195, 2, "%s: no name field was found for capability %d's list entry number %d of this image driver"};
inline constexpr Message kPluginVersion{902, 196, 3, "%s: the version protocol of this plug-in (\"%s\") is not supported; expecting version \"%s\" but found \"%s\""};
inline constexpr Message kNoPlaybackWindow{902, 204, 3, "%s: cannot bind the playback window for this %s file; (it is not a multiframe file, or this function is unsupported for this file type)"};
inline constexpr Message kNoPlaybackFrame{902, 206, 2, "%s: cannot set the playback frame for this %s file (it is not a multiframe file, or this function is unsupported for this file type)"};
inline constexpr Message kNoPlaybackStart{902, 207, 2, "%s: cannot start playback for this %s file; (it is not a multiframe file, or this function is unsupported for this file type)"};
inline constexpr Message kNoPlaybackStop{902, 208, 2, "%s: cannot stop playback for this %s file; (it is not a multiframe file, or this function is unsupported for this file type)"};
inline constexpr Message kCurveType{902, 210, 3, "Invalid curve type %d found: must be of type ZEP_C_INTEGER or ZEP_C_FLOAT"};
inline constexpr Message kCurveDepth{902, 211, 3, "Invalid curve depth %d found: must be in the range %d to %d"};
inline constexpr Message kNoRaster{902, 250, 2, "%s: cannot read whole rasters from this %s file (this function is unsupported for this file type)"};
inline constexpr Message kUnknownKey{902, 902, 3, "Unknown file type key (\"%s\") was specified; Ensure that the plug-in for this type is defined"};
inline constexpr Message kConfigNumber{903, 1, 3, "Invalid configuration file syntax, line %d; expecting a number"};
inline constexpr Message kConfigSyntax{903, 2, 3, "%s: Invalid configuration file syntax, line %d"};
inline constexpr Message kConfigMatching{903, 3, 3, "Invalid matching function (check the configuration file color matching function)"};
inline constexpr Message kConfigRange{903, 4, 3, "Invalid wavelength sampling range, (%f, %f); (check the configuration file)"};
inline constexpr Message kConfigResolution{903, 5, 3, "Invalid table resolution (%d); (check the configuration file)"};
inline constexpr Message kConfigInitDatabase{903, 6, 0, "%s, initializing database for %s request"};
inline constexpr Message kConfigNoMemory{903, 7, 3, "No more internal memory"};
// clang-format on

/* Reports message m with its arguments through the catalogue given to
 * ZEP_init. Returns what ERR_report_cat returns. */
template <typename... Args>
inline int report(const Message &m, Args... args)
{
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif
    return ERR_report_cat(zep__msg_cat, m.set, m.number, m.severity, m.text, args...);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

} // namespace zep

#endif // ZEP_SRC_ERROR_MESSAGES_H
