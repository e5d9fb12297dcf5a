// The containers: the ordered list with its cursor (order, removal at every
// position, sorted insertion and its tie rule, walks) and the node pool.
#include <gtest/gtest.h>

#include <vector>

#include <zep/error.h>

#include "base/list.h"
#include "base/pool.h"

namespace {

struct Item { DST_LINK link; int key, tag; };
using Ints = std::vector<int>;

// A field of the elements in link order; head, tail and count must agree with the links.
Ints fields(const DST_LIST &list, int Item::*field = &Item::key)
{
    Ints out;
    DST_LINK *last = nullptr;
    for (DST_LINK *l = list.head; l && out.size() < 64; l = (last = l)->next) // 64: a cycle
        out.push_back(reinterpret_cast<Item *>(l)->*field);
    EXPECT_TRUE(last == list.tail && static_cast<int>(out.size()) == dst__list_count(&list));
    return out;
}

int key(const void *e) { return static_cast<const Item *>(e)->key; }
int by_key(const void *old, const void *item) { return key(old) - key(item); }
int ties_after(const void *old, const void *item) { return key(old) <= key(item) ? -1 : 1; }

class List : public ::testing::Test {
  protected:
    DST_LIST list{};
    Item items[5] = {{{}, 0, 0}, {{}, 1, 0}, {{}, 2, 0}, {{}, 3, 0}, {{}, 4, 0}};
    void add(int a, int b) { for (int i = a; i < b; ++i) dst__list_append(&list, &items[i]); }
};

TEST_F(List, RemoveAndPopAtEveryPositionKeepHeadTailCountAndCursor)
{
    for (int target = 0; target < 4; ++target) {
        dst__list_clear(&list);
        add(0, 4);
        dst__list_rewind(&list);
        for (int i = 0; i < target; ++i) dst__list_next(&list); // the cursor on the target
        EXPECT_EQ(dst__list_remove(&list, &items[target]), &items[target]);
        EXPECT_EQ(dst__list_next(&list), target < 3 ? &items[target + 1] : nullptr);
        EXPECT_EQ(dst__list_remove(&list, &items[target]), nullptr); // no longer there
        Ints want{0, 1, 2, 3, 4};
        want.erase(want.begin() + target);
        add(4, 5); // appends right after losing its tail too
        EXPECT_EQ(fields(list), want) << "removing " << target;
    }
    dst__list_clear(&list);
    add(0, 3);
    EXPECT_TRUE(dst__list_pop_tail(&list) == &items[2] && dst__list_pop_head(&list) == &items[0]);
    add(2, 3); // [1, 2]: removing the tail of two leaves the head as both ends
    dst__list_remove(&list, &items[2]);
    EXPECT_TRUE(list.head == &items[1].link && list.tail == &items[1].link && list.count == 1);
    EXPECT_TRUE(dst__list_pop_tail(&list) == &items[1] && !list.head && !list.tail && !list.count);
    EXPECT_TRUE(!dst__list_pop_head(&list) && !dst__list_pop_tail(&list));
}

TEST_F(List, InsertSortedKeepsTiesInInsertionOrderOrRefusesEquals)
{
    Item a{{}, 2, 1}, b{{}, 1, 2}, c{{}, 2, 3}, d{{}, 3, 4}, e{{}, 2, 5}, f{{}, 0, 6};
    EXPECT_EQ(dst__list_insert_sorted(&list, &a, ties_after, 1), 1);
    EXPECT_TRUE(list.head == &a.link && list.tail == &a.link); // into an empty list
    for (Item *it : {&b, &c, &d, &e, &f}) dst__list_insert_sorted(&list, it, ties_after, 1);
    EXPECT_EQ(fields(list, &Item::tag), (Ints{6, 2, 1, 3, 5, 4}));

    DST_LIST unique{};
    Item x{{}, 1, 1}, y{{}, 1, 2}, z{{}, 5, 3};
    for (Item *it : {&x, &z}) EXPECT_EQ(dst__list_insert_sorted(&unique, it, by_key, 0), 1);
    EXPECT_EQ(dst__list_insert_sorted(&unique, &y, by_key, 0), 0); // an equal is refused
    EXPECT_EQ(fields(unique, &Item::tag), (Ints{1, 3}));
    EXPECT_EQ(dst__list_insert_sorted(&unique, &y, by_key, 1), 1);
    EXPECT_EQ(fields(unique, &Item::tag), (Ints{2, 1, 3})); // before the first not smaller
}

TEST_F(List, WalksVisitInOrderAndLeaveTheCursorPastOrOnTheStop)
{
    add(1, 5);
    dst__list_rewind(&list);
    for (int i = 1; i < 5; ++i) EXPECT_EQ(dst__list_next(&list), &items[i]);
    EXPECT_EQ(dst__list_next(&list), nullptr);
    dst__list_prepend(&list, &items[0]);
    dst__list_rewind(&list);
    dst__list_next(&list);
    void *saved = dst__list_get_cursor(&list); // a lookup in the middle of a walk
    while (dst__list_next(&list)) {}
    dst__list_set_cursor(&list, saved);
    EXPECT_EQ(dst__list_next(&list), &items[1]);
    static Ints seen;
    static int stop_at = 2;
    auto visit = [](void *e, void *) {
        seen.push_back(key(e));
        return seen.back() == stop_at ? 0 : 1;
    };
    dst__list_for_each(&list, visit, nullptr, 0);
    dst__list_for_each(&list, visit, nullptr, 1);
    EXPECT_EQ(seen, (Ints{0, 1, 2, 3, 4, 0, 1, 2}));
    EXPECT_EQ(dst__list_next(&list), &items[3]); // already past the one it stopped on
    EXPECT_EQ(dst__list_find(&list, visit, nullptr), &items[2]);
    EXPECT_EQ(dst__list_next(&list), &items[2]); // find rests on the one found
    stop_at = 9;
    EXPECT_EQ(dst__list_find(&list, visit, nullptr), nullptr);
    auto drop_odd = [](void *e, void *l) {
        if (key(e) % 2) dst__list_remove(static_cast<DST_LIST *>(l), e);
        return 1;
    };
    dst__list_for_each(&list, drop_odd, &list, 0); // the visited element may go
    EXPECT_EQ(fields(list), (Ints{0, 2, 4}));
}

TEST_F(List, CreateFailsCleanlyWithoutMemoryAndTheTypedViewFinds)
{
    DST_LIST *raw = dst__list_create();
    ASSERT_NE(raw, nullptr);
    EXPECT_TRUE(!raw->head && !raw->tail && !raw->cursor && raw->count == 0);
    zep::List<Item> typed(raw);
    typed.append(&items[1]);
    typed.prepend(&items[3]);
    EXPECT_EQ(typed.find_if([](const Item &it) { return it.key == 1; }), &items[1]);
    EXPECT_EQ(fields(*raw), (Ints{3, 1}));
    dst__list_destroy(raw);
    ERR_mask(nullptr); // keeps the report off standard error
    err__alloc_fail(1, 0);
    EXPECT_EQ(dst__list_create(), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    ERR_unmask(nullptr);
}

TEST(Pool, NodeGivenBackIsTheNextTakenAndAFailureIsReported)
{
    DST_POOL pool{};
    void *a = dst__pool_take(&pool, sizeof(Item)), *b = dst__pool_take(&pool, sizeof(Item));
    ASSERT_TRUE(a && b && a != b);
    for (void *node : {a, b, static_cast<void *>(nullptr)}) dst__pool_give(node, &pool);
    EXPECT_EQ(dst__pool_take(&pool, sizeof(Item)), b);
    EXPECT_TRUE(dst__pool_take(&pool, sizeof(Item)) == a && pool.free == nullptr);
    for (void *node : {a, b}) dst__pool_give(node, &pool);
    dst__pool_release(&pool); // the leak checker sees whether both went
    EXPECT_EQ(pool.free, nullptr);
    auto quiet = [](const char *, int, const char *, ERR_RECORD *, void *) { return 0; };
    ASSERT_EQ(ERR_dcl_handler(nullptr, quiet, nullptr), 1);
    int errors = ERR_stats(ERR_ERROR);
    err__alloc_fail(1, 0);
    EXPECT_EQ(dst__pool_take(&pool, sizeof(Item)), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_EQ(ERR_stats(ERR_ERROR), errors + 1);
    EXPECT_STREQ(ERR_last(0)->format, "No more internal memory");
    ERR_can_handler(nullptr);
}

} // namespace
