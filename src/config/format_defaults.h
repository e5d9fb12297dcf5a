/*
 * Internal side of the configuration databases: reports that carry the
 * catalogue of the configuration store, and the format-defaults values that
 * other modules read directly, without building the database.
 */
#ifndef ZEP_SRC_CONFIG_FORMAT_DEFAULTS_H
#define ZEP_SRC_CONFIG_FORMAT_DEFAULTS_H

#include <zep/config.h>
#include <zep/error.h>

#include "error/messages.h"

namespace zep {

/* Reports message m with its arguments through catalogue (rather than the
 * one given to ZEP_init). Returns what ERR_report_cat returns. */
template <typename... Args>
inline int report_with(void *catalogue, const Message &m, Args... args)
{
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif
    return ERR_report_cat(catalogue, m.set, m.number, m.severity, m.text, args...);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

/* Reports message m through the catalogue of the configuration store, as
 * every report of the configuration file and its databases does. */
template <typename... Args>
inline int config_report(const Message &m, Args... args)
{
    return report_with(cfg__catalogue(), m, args...);
}

/* The integer value of a configuration word: optional blanks and sign, then
 * the leading decimal digits; 0 when there are none. Values beyond the
 * 32-bit range are clamped to it. */
int cfg_integer(const char *word);

/* The current values of the format-defaults database. None of them builds
 * the database: before FMT_init they give the built-in values, after
 * FMT_exit the built-in texts and the numbers the file last set. */
int fmt_gamma_table_res_current();  /* 4096 built in */
float fmt_gamma_current();          /* display gamma, 2.2 built in */
const char *fmt_key_default_current();  /* default format key, "rla" */
const char *fmt_name_default_current(); /* default base file name, "im" */
int fmt_swatch_size_current();      /* 0 built in */
/* True between a build (successful or ended by a failed text copy) and
 * FMT_exit. */
bool fmt_is_built();

} // namespace zep

#endif // ZEP_SRC_CONFIG_FORMAT_DEFAULTS_H
