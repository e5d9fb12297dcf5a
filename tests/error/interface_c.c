/* The error interface used from C: a statically initialised record, a
 * handler with user data, a report and a placeholder fill. */
#include <string.h>

#include <zep/error.h>

int zep_test_c_report(char *message, char *filled);

static const char *const c_names[] = {"file", NULL};
static ERR_RECORD c_record = {
    .kind = 1,
    .severity = ERR_WARNING,
    .name = "C_OPEN",
    .format = "cannot open %s (%d)",
    .arg_names = c_names,
};

static char c_seen[ERR_MESSAGE_MAX];
static int c_seen_severity = -1;
static int c_offset = 10;

static int c_handler(const char *name, int severity, const char *message, ERR_RECORD *record,
                     void *data)
{
    if (strcmp(name, "C_OPEN") != 0 || record != &c_record) return 0;
    strncpy(c_seen, message, sizeof c_seen - 1);
    c_seen_severity = severity + *(int *)data;
    return 0;
}

/* Reports through a C handler; returns the severity it saw plus 10, or a
 * negative number when declaring or cancelling went wrong. */
int zep_test_c_report(char *message, char *filled)
{
    if (!ERR_dcl_handler(&c_record, c_handler, &c_offset)) return -1;
    ERR_report(&c_record, "a.rla", 2);
    ERR_format_fill(&c_record, filled);
    if (ERR_can_handler(&c_record) != c_handler) return -2;
    strcpy(message, c_seen);
    return c_seen_severity;
}
