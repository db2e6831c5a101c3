// The circular queue behind the images buffer: order survives wrapping and
// growth, and removed elements are really let go.
#include "images/RingQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using orvex::images::RingQueue;
using ::testing::ElementsAre;

namespace {

std::vector<int> valuesOf(const RingQueue<int>& queue)
{
    std::vector<int> values;
    for (size_t pos = 0; pos < queue.size(); ++pos)
        values.push_back(queue[pos]);
    return values;
}

} // namespace

TEST(RingQueue, KeepsOrderWhileWrappingAndGrowing)
{
    RingQueue<int> queue;
    int next = 0;
    // Cycle until the head sits in the middle of the storage, then grow.
    for (int round = 0; round < 13; ++round) {
        queue.push_back(next++);
        queue.push_back(next++);
        queue.pop_front();
    }
    for (int extra = 0; extra < 20; ++extra)
        queue.push_back(next++);
    ASSERT_EQ(queue.size(), 33u);
    for (size_t pos = 0; pos < queue.size(); ++pos)
        EXPECT_EQ(queue[pos], 13 + static_cast<int>(pos));
}

TEST(RingQueue, InsertsAnywhereAcrossTheWrap)
{
    RingQueue<int> queue;
    for (int value = 0; value < 6; ++value)
        queue.push_back(value);
    for (int drop = 0; drop < 5; ++drop)
        queue.pop_front();
    for (int value = 10; value < 15; ++value)
        queue.push_back(value); // wraps inside the 8-slot storage
    queue.insert(0, -1);
    queue.insert(3, 99);
    queue.insert(queue.size(), 100);
    EXPECT_THAT(valuesOf(queue), ElementsAre(-1, 5, 10, 99, 11, 12, 13, 14, 100));
}

TEST(RingQueue, RemovedElementsAreReleasedAndTheRestKeepOrder)
{
    RingQueue<std::shared_ptr<int>> queue;
    std::vector<std::weak_ptr<int>> watches;
    for (int value = 0; value < 10; ++value) {
        auto element = std::make_shared<int>(value);
        watches.push_back(element);
        queue.push_back(std::move(element));
    }
    std::vector<int> seen;
    queue.removeIf([&](std::shared_ptr<int>& element) {
        seen.push_back(*element);
        return *element % 3 != 0;
    });
    EXPECT_THAT(seen, ElementsAre(0, 1, 2, 3, 4, 5, 6, 7, 8, 9));
    ASSERT_EQ(queue.size(), 4u);
    for (size_t pos = 0; pos < queue.size(); ++pos)
        EXPECT_EQ(*queue[pos], 3 * static_cast<int>(pos));
    for (int value = 0; value < 10; ++value)
        EXPECT_EQ(watches[value].expired(), value % 3 != 0) << value;

    queue.clear();
    EXPECT_TRUE(queue.empty());
    EXPECT_TRUE(watches[9].expired() && watches[0].expired());
    queue.push_back(std::make_shared<int>(42));
    EXPECT_EQ(*queue.front(), 42);
}
