/* The string interface called from C: variable arguments, arrays of
 * strings and buffers that C callers size themselves. */
#include <string.h>

#include <zep/error.h>
#include <zep/strings.h>

int strings_from_c(void);

#define CHECK(e)                                                                                   \
    do {                                                                                           \
        if (!(e)) return __LINE__;                                                                 \
    } while (0)

/* 0 when every check passes, else the line of the first that failed. */
int strings_from_c(void)
{
    char line[] = "zeta alpha  beta";
    char dst[64];
    char **words;
    char *s = STR_save_n(3, "a", "/", "b.rla");
    CHECK(s != NULL && strcmp(s, "a/b.rla") == 0);
    CHECK(strcmp(STR_extension(s), "rla") == 0);
    CHECK(STR_head(s) == s && strcmp(s, "a") == 0);
    ERR_free(s);

    words = STR_parse(line);
    CHECK(words != NULL && str__array_count((void *const *)words) == 3);
    CHECK(STR_sort(words) == words);
    CHECK(strcmp(words[0], "alpha") == 0 && strcmp(words[2], "zeta") == 0);
    CHECK(STR_find_string(words, "beta") == &words[1]);
    ERR_free(words);

    CHECK(strcmp(STR_filename_relative(dst, "/a/b/c", "/a/b/x"), "../x") == 0);
    CHECK(strcmp(STR_filename_absolute(dst, "/a/b/c", "../../d"), "/a/d") == 0);
    CHECK(STR_filename_host(NULL, "h:/x") == 1);
    CHECK(STR_is_integer("-2147483648") && !STR_is_integer("2147483648"));
    return 0;
}
