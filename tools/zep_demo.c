/*
 * zep-demo: a short example of the library as an application meets it.
 *
 * For each path on the command line (or a few sample paths) it expands
 * environment variables, cleans the name, takes it apart and makes it
 * absolute against the current directory. Problems are reported through
 * the error layer: a global handler counts them before the default handler
 * prints them on standard error. Exits 1 when anything was reported.
 */
#include <stdio.h>
#include <stdlib.h>
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <zep/zep.h>

static int reported;

static int count_reports(const char *name, int severity, const char *message,
                         ERR_RECORD *record, void *data)
{
    (void)name;
    (void)severity;
    (void)message;
    (void)record;
    (void)data;
    ++reported;
    return 1; /* pass the report on to the default handler */
}

static const char *or_none(const char *s) { return s ? s : "(none)"; }

static void describe(const char *arg, const char *cwd)
{
    char *expanded = NULL;
    if (!STR_expand_filename(arg, &expanded)) {
        if (expanded)
            ERR_printf(ERR_ERROR, "%s: variable %s is not set", arg, expanded);
        else
            ERR_printf(ERR_ERROR, "%s: name too long to expand", arg);
        ERR_free(expanded);
        return;
    }
    STR_filename_clean(expanded);

    size_t room = strlen(cwd) + strlen(expanded) + 2;
    char *absolute = ERR_malloc(room);
    char *head = STR_save(expanded);
    char *root = STR_save(STR_tail(expanded));
    if (absolute && head && root) {
        STR_filename_absolute(absolute, cwd, expanded);
        printf("%s\n", arg);
        printf("  cleaned    %s\n", expanded);
        printf("  directory  %s\n", or_none(STR_head(head)));
        printf("  file       %s\n", STR_tail(expanded));
        printf("  base       %s\n", STR_root(root));
        printf("  extension  %s\n", or_none(STR_extension(STR_tail(expanded))));
        printf("  absolute   %s\n", absolute);
        printf("  hash       %u\n", STR_hash(expanded, 1023));
    }
    ERR_free(root);
    ERR_free(head);
    ERR_free(absolute);
    ERR_free(expanded);
}

int main(int argc, char **argv)
{
    static const char *const samples[] = {"$HOME/shots/./take2/../beauty.0042.rla",
                                          "renders//comp.rlb", "../plates/bg.1001.rla",
                                          "${ZEP_DEMO_UNSET}/x.rla"};
    char cwd[4096];
    int i;

    if (!getcwd(cwd, sizeof cwd)) {
        ERR_report_errno(errno, "getcwd");
        return 2;
    }
    ERR_dcl_handler(NULL, count_reports, NULL);
    if (argc > 1)
        for (i = 1; i < argc; ++i) describe(argv[i], cwd);
    else
        for (i = 0; i < (int)(sizeof samples / sizeof samples[0]); ++i) describe(samples[i], cwd);
    printf("%d report(s)\n", reported);
    return (argc > 1 && reported) ? 1 : 0;
}
