/*
 * ZEP image-file library: the whole public interface.
 *
 * Applications include this header only; it pulls in one header per family.
 */
#ifndef ZEP_ZEP_H
#define ZEP_ZEP_H

#include <zep/export.h>
#include <zep/error.h>
#include <zep/strings.h>
#include <zep/containers.h>
#include <zep/curves.h>
#include <zep/image.h>
#include <zep/rla.h>
#include <zep/config.h>
#include <zep/colour.h>
#include <zep/naming.h>

#endif /* ZEP_ZEP_H */
