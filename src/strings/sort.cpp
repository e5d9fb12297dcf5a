/*
 * Sorting of string arrays in place by heapsort: ascending and descending by
 * STR_compare, and ascending by the locale's collation order. The sort is not
 * stable; it needs no memory beyond the array.
 */
#include <zep/strings.h>

#include <string.h>

namespace {

/*
 * Heapsort of a[0..n-1], indexed 1..n as a heap. after(x, y) is true when x
 * belongs after y in the finished order: the heap keeps such an entry above
 * its children, so the entry that goes last is taken first.
 */
template <typename After> void heap_sort(char **a, int n, After after)
{
    auto at = [a](int i) -> char *& { return a[i - 1]; };
    auto sift_down = [&](int i, int last) {
        char *x = at(i);
        while (2 * i <= last) {
            int child = 2 * i;
            if (child < last && after(at(child + 1), at(child))) ++child;
            if (!after(at(child), x)) break;
            at(i) = at(child);
            i = child;
        }
        at(i) = x;
    };
    for (int i = n / 2; i >= 1; --i)
        sift_down(i, n);
    for (int last = n; last >= 2; --last) {
        char *top = at(1);
        at(1) = at(last);
        at(last) = top;
        sift_down(1, last - 1);
    }
}

template <typename After> char **sort_array(char **array, After after)
{
    int n = str__array_count(reinterpret_cast<void *const *>(array));
    if (n >= 2) heap_sort(array, n, after);
    return array;
}

} // namespace

char **STR_sort(char **array)
{
    return sort_array(array, [](const char *x, const char *y) { return STR_compare(x, y) > 0; });
}

char **STR_sort_reverse(char **array)
{
    return sort_array(array, [](const char *x, const char *y) { return STR_compare(x, y) < 0; });
}

char **STR_sort_collate(char **array)
{
    return sort_array(array, [](const char *x, const char *y) { return strcoll(x, y) > 0; });
}
