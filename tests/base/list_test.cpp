// The ordered list with a cursor: order, cursor walks, removal at every
// position, sorted insertion with its tie rule, and walks that look up
// elements in the middle.
#include <gtest/gtest.h>

#include <vector>

#include <zep/error.h>

#include "base/list.h"

namespace {

struct Item {
    DST_LINK link;
    int key;
    int tag;
};

class ListTest : public ::testing::Test {
  protected:
    void SetUp() override { dst__list_clear(&list); }

    std::vector<int> keys()
    {
        std::vector<int> out;
        dst__list_rewind(&list);
        while (auto *it = static_cast<Item *>(dst__list_next(&list))) out.push_back(it->key);
        return out;
    }

    // Checks that head, tail and count agree with a walk of the links.
    void expect_consistent()
    {
        int n = 0;
        DST_LINK *last = nullptr;
        for (DST_LINK *l = list.head; l; l = l->next) {
            last = l;
            ++n;
        }
        EXPECT_EQ(n, dst__list_count(&list));
        EXPECT_EQ(last, list.tail);
    }

    DST_LIST list;
    Item items[6] = {{{}, 0, 0}, {{}, 1, 0}, {{}, 2, 0}, {{}, 3, 0}, {{}, 4, 0}, {{}, 5, 0}};
};

int by_key(const void *existing, const void *element)
{
    const auto *a = static_cast<const Item *>(existing);
    const auto *b = static_cast<const Item *>(element);
    return a->key - b->key;
}

// Never 0: equal keys go after the existing ones.
int by_key_ties_after(const void *existing, const void *element)
{
    int c = by_key(existing, element);
    return c <= 0 ? -1 : 1;
}

TEST_F(ListTest, AppendedElementsComeBackInOrderThenNull)
{
    for (int i = 0; i < 3; ++i) dst__list_append(&list, &items[i]);
    dst__list_rewind(&list);
    EXPECT_EQ(dst__list_next(&list), &items[0]);
    EXPECT_EQ(dst__list_next(&list), &items[1]);
    EXPECT_EQ(dst__list_next(&list), &items[2]);
    EXPECT_EQ(dst__list_next(&list), nullptr);
    EXPECT_EQ(dst__list_next(&list), nullptr);
    expect_consistent();
}

TEST_F(ListTest, PrependPutsElementsInFront)
{
    dst__list_prepend(&list, &items[1]);
    dst__list_append(&list, &items[2]);
    dst__list_prepend(&list, &items[0]);
    EXPECT_EQ(keys(), (std::vector<int>{0, 1, 2}));
    expect_consistent();
}

TEST_F(ListTest, RemoveAtEveryPositionKeepsHeadTailAndCount)
{
    for (int target = 0; target < 4; ++target) {
        dst__list_clear(&list);
        for (int i = 0; i < 4; ++i) dst__list_append(&list, &items[i]);
        EXPECT_EQ(dst__list_remove(&list, &items[target]), &items[target]);
        std::vector<int> want;
        for (int i = 0; i < 4; ++i)
            if (i != target) want.push_back(i);
        EXPECT_EQ(keys(), want) << "removing " << target;
        expect_consistent();
        // The list still appends correctly after losing its tail.
        dst__list_append(&list, &items[5]);
        want.push_back(5);
        EXPECT_EQ(keys(), want);
        expect_consistent();
    }
}

TEST_F(ListTest, RemovingTheTailOfTwoLeavesTheHeadAsBoth)
{
    dst__list_append(&list, &items[0]);
    dst__list_append(&list, &items[1]);
    EXPECT_EQ(dst__list_remove(&list, &items[1]), &items[1]);
    EXPECT_EQ(list.head, &items[0].link);
    EXPECT_EQ(list.tail, &items[0].link);
    EXPECT_EQ(dst__list_count(&list), 1);
}

TEST_F(ListTest, RemovingAnAbsentElementReturnsNull)
{
    dst__list_append(&list, &items[0]);
    EXPECT_EQ(dst__list_remove(&list, &items[1]), nullptr);
    EXPECT_EQ(dst__list_count(&list), 1);
}

TEST_F(ListTest, RemovingTheCursorElementMovesTheCursorOn)
{
    for (int i = 0; i < 3; ++i) dst__list_append(&list, &items[i]);
    dst__list_rewind(&list);
    dst__list_next(&list); // cursor now on items[1]
    dst__list_remove(&list, &items[1]);
    EXPECT_EQ(dst__list_next(&list), &items[2]);
}

TEST_F(ListTest, PopHeadAndTail)
{
    EXPECT_EQ(dst__list_pop_head(&list), nullptr);
    EXPECT_EQ(dst__list_pop_tail(&list), nullptr);
    for (int i = 0; i < 3; ++i) dst__list_append(&list, &items[i]);
    EXPECT_EQ(dst__list_pop_tail(&list), &items[2]);
    expect_consistent();
    EXPECT_EQ(dst__list_pop_head(&list), &items[0]);
    expect_consistent();
    EXPECT_EQ(dst__list_pop_tail(&list), &items[1]);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(dst__list_count(&list), 0);
}

TEST_F(ListTest, InsertSortedIntoEmptyMakesHeadAndTail)
{
    EXPECT_EQ(dst__list_insert_sorted(&list, &items[3], by_key, 0), 1);
    EXPECT_EQ(list.head, &items[3].link);
    EXPECT_EQ(list.tail, &items[3].link);
    EXPECT_EQ(dst__list_count(&list), 1);
}

TEST_F(ListTest, InsertSortedOrdersAndKeepsTiesInInsertionOrder)
{
    Item a{{}, 2, 1}, b{{}, 1, 2}, c{{}, 2, 3}, d{{}, 3, 4}, e{{}, 2, 5}, f{{}, 0, 6};
    for (Item *it : {&a, &b, &c, &d, &e, &f}) dst__list_insert_sorted(&list, it, by_key_ties_after, 1);
    std::vector<int> tags;
    dst__list_rewind(&list);
    while (auto *it = static_cast<Item *>(dst__list_next(&list))) tags.push_back(it->tag);
    EXPECT_EQ(tags, (std::vector<int>{6, 2, 1, 3, 5, 4}));
    expect_consistent();
}

TEST_F(ListTest, InsertSortedWithoutEqualRefusesADuplicate)
{
    Item a{{}, 1, 1}, b{{}, 1, 2}, c{{}, 5, 3};
    EXPECT_EQ(dst__list_insert_sorted(&list, &a, by_key, 0), 1);
    EXPECT_EQ(dst__list_insert_sorted(&list, &c, by_key, 0), 1);
    EXPECT_EQ(dst__list_insert_sorted(&list, &b, by_key, 0), 0);
    EXPECT_EQ(dst__list_count(&list), 2);
    EXPECT_EQ(dst__list_insert_sorted(&list, &b, by_key, 1), 1);
    EXPECT_EQ(list.head, &b.link); // allowed equal goes before the first non-smaller one
    expect_consistent();
}

TEST_F(ListTest, FindRestsTheCursorOnTheFoundElement)
{
    for (int i = 0; i < 4; ++i) dst__list_append(&list, &items[i]);
    int want = 2;
    auto is_key = [](void *e, void *arg) { return static_cast<Item *>(e)->key == *static_cast<int *>(arg) ? 0 : 1; };
    EXPECT_EQ(dst__list_find(&list, is_key, &want), &items[2]);
    EXPECT_EQ(dst__list_next(&list), &items[2]);
    EXPECT_EQ(dst__list_next(&list), &items[3]);
    want = 9;
    EXPECT_EQ(dst__list_find(&list, is_key, &want), nullptr);
}

TEST_F(ListTest, ForEachVisitsInOrderAndStopsOnZeroWhenAsked)
{
    for (int i = 0; i < 5; ++i) dst__list_append(&list, &items[i]);
    struct Seen {
        std::vector<int> keys;
        int stop_at;
    } seen{{}, 2};
    auto visit = [](void *e, void *arg) {
        auto *s = static_cast<Seen *>(arg);
        int k = static_cast<Item *>(e)->key;
        s->keys.push_back(k);
        return k == s->stop_at ? 0 : 1;
    };
    dst__list_for_each(&list, visit, &seen, 0);
    EXPECT_EQ(seen.keys, (std::vector<int>{0, 1, 2, 3, 4}));
    seen.keys.clear();
    dst__list_for_each(&list, visit, &seen, 1);
    EXPECT_EQ(seen.keys, (std::vector<int>{0, 1, 2}));
    // The cursor is already past the element the walk stopped on.
    EXPECT_EQ(dst__list_next(&list), &items[3]);
}

TEST_F(ListTest, ForEachMayRemoveTheElementItVisits)
{
    for (int i = 0; i < 5; ++i) dst__list_append(&list, &items[i]);
    auto drop_odd = [](void *e, void *arg) {
        if (static_cast<Item *>(e)->key % 2) dst__list_remove(static_cast<DST_LIST *>(arg), e);
        return 1;
    };
    dst__list_for_each(&list, drop_odd, &list, 0);
    EXPECT_EQ(keys(), (std::vector<int>{0, 2, 4}));
    expect_consistent();
}

TEST_F(ListTest, SavedCursorSurvivesALookupInTheMiddleOfAWalk)
{
    for (int i = 0; i < 4; ++i) dst__list_append(&list, &items[i]);
    dst__list_rewind(&list);
    dst__list_next(&list);
    void *saved = dst__list_get_cursor(&list);
    dst__list_rewind(&list);
    while (dst__list_next(&list)) {}
    dst__list_set_cursor(&list, saved);
    EXPECT_EQ(dst__list_next(&list), &items[1]);
}

TEST(ListHeader, CreateGivesAnEmptyListAndFailsCleanlyWithoutMemory)
{
    DST_LIST *l = dst__list_create();
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->head, nullptr);
    EXPECT_EQ(l->tail, nullptr);
    EXPECT_EQ(l->cursor, nullptr);
    EXPECT_EQ(l->count, 0);
    dst__list_destroy(l);

    ERR_mask(nullptr); // keep the report off standard error
    err__alloc_fail(1, 0);
    EXPECT_EQ(dst__list_create(), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    ERR_unmask(nullptr);
}

TEST(TypedList, WrapsTheSameListWithoutCasts)
{
    DST_LIST raw{};
    zep::List<Item> list(&raw);
    Item a{{}, 7, 0}, b{{}, 8, 0};
    list.append(&a);
    list.prepend(&b);
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.find_if([](const Item &it) { return it.key == 7; }), &a);
    EXPECT_EQ(list.find_if([](const Item &it) { return it.key == 9; }), nullptr);
    list.rewind();
    EXPECT_EQ(list.next(), &b);
    EXPECT_EQ(list.pop_tail(), &a);
    EXPECT_EQ(list.pop_head(), &b);
    EXPECT_EQ(list.pop_head(), nullptr);
}

} // namespace
