/*
 * The shared-string table: one copy of each defined text, counted.
 *
 * 1,023 buckets chosen by STR_hash, each a chain of nodes searched with
 * STR_compare; a new node goes to the front of its chain. A node is one
 * block holding the link, the count and the text, so a definition either
 * adds a whole node or nothing.
 *
 * A text moves between two states: absent, and present with count c >= 1.
 * STR_define takes it from absent to 1 or from c to c + 1; STR_undefine from
 * c to c - 1, and from 1 back to absent, freeing the node. The table is
 * process-wide and takes no lock.
 */
#include <zep/strings.h>

#include <stddef.h>
#include <stdint.h>
#include <type_traits>

#include <zep/error.h>

#include "strings/chars.h"
#include "strings/shared.h"

namespace {

constexpr unsigned int kBuckets = 1023;

struct SharedNode {
    SharedNode *next;
    int32_t count;
    char text[1]; /* the rest of the text follows in the same block */
};
static_assert(std::is_standard_layout_v<SharedNode>);

SharedNode *g_buckets[kBuckets]; /* zero until first use */

/* The link that points at the node holding s (or the chain's last, null,
 * link when there is none). */
SharedNode **find_link(const char *s)
{
    SharedNode **link = &g_buckets[STR_hash(s, kBuckets)];
    while (*link && STR_compare((*link)->text, s) != 0)
        link = &(*link)->next;
    return link;
}

} // namespace

const char *STR_define(const char *s)
{
    if (!s) s = "";
    if (SharedNode *node = *find_link(s)) {
        /* A count at its limit stays there: the text is then kept for good. */
        if (node->count < INT32_MAX) ++node->count;
        return node->text;
    }
    size_t length = strlen(s);
    auto *node = static_cast<SharedNode *>(ERR_malloc(offsetof(SharedNode, text) + length + 1));
    if (!node) return nullptr;
    memcpy(node->text, s, length + 1);
    node->count = 1;
    SharedNode **bucket = &g_buckets[STR_hash(s, kBuckets)];
    node->next = *bucket;
    *bucket = node;
    return node->text;
}

int STR_undefine(const char *s)
{
    if (!s) s = "";
    SharedNode **link = find_link(s);
    SharedNode *node = *link;
    if (!node || node->count == INT32_MAX) return 0;
    if (--node->count <= 0) {
        *link = node->next;
        ERR_free(node);
    }
    return 0;
}

int STR_undefine_array(char **array)
{
    if (!array) return 0;
    for (char **entry = array; *entry; ++entry)
        STR_undefine(*entry);
    ERR_free(array);
    return 0;
}

int zep::shared_count(const char *s)
{
    const SharedNode *node = *find_link(s ? s : "");
    return node ? node->count : 0;
}
