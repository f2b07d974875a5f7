// The refresh cycle against a drawing thread, and clicks queued by another
// thread while the logic hands them over. Run under ThreadSanitizer in CI: the
// image and the shared words must be race-free.

#include "surface/platform/refresh_cycle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "surface/painter.h"

namespace quorvant {
namespace {

TEST(RefreshCycle, PresentsOnlyWhatWasDrawnAndNeverLosesAClick) {
  ScreenFont font;
  Surface surface(200, 100);
  Painter painter(surface, font);
  WindowLink link;
  link.Alive.store(1);
  InputQueue<Click> clicks;
  constexpr int ClickCount = 500;
  constexpr int BoxCount = 2000;

  std::atomic<bool> drawing_done{false};
  std::atomic<bool> clicking_done{false};
  std::atomic<bool> stop{false};
  std::vector<int> received;
  std::atomic<int> presents{0};
  std::atomic<int> last_seen_colour{-1};

  std::thread refresh([&] {
    while (!stop.load()) {
      RefreshTurn(link, true, surface, [&](const Image& image, const Rect&) {
        last_seen_colour.store(image.Pixel(5, 5));
        presents.fetch_add(1);
      });
      std::this_thread::yield();
    }
  });
  std::thread clicker([&] {
    for (int i = 0; i < ClickCount; ++i) {
      // As the window side does: the next event only once there is room.
      while (clicks.Full()) std::this_thread::yield();
      clicks.Push(Click{1, i, i % 100});
    }
    clicking_done.store(true);
  });
  std::thread drawer([&] {
    for (int i = 0; i < BoxCount; ++i) {
      painter.DrawBox(0, 0, 10, 10, 0, Grey, i % 2 == 0 ? DarkGrey : Brown);
      painter.PrintAt(20, 20, Silver, "key");
    }
    painter.DrawBox(0, 0, 10, 10, 0, Lavender, Lavender);
    drawing_done.store(true);
  });

  // The logic side: hands over and takes every click the window queued.
  while (static_cast<int>(received.size()) < ClickCount) {
    HandOverClick(link, clicks);
    if (link.ClickKind.load(std::memory_order_acquire) != 0) {
      received.push_back(link.ClickX.load(std::memory_order_relaxed));
      link.ClearClick();
    } else {
      std::this_thread::yield();
    }
  }
  drawer.join();
  clicker.join();
  // Let the refresh cycle present the last drawing, then check it stays idle.
  while (surface.Dirty()) std::this_thread::yield();
  stop.store(true);
  refresh.join();

  ASSERT_EQ(static_cast<int>(received.size()), ClickCount);
  for (int i = 0; i < ClickCount; ++i) EXPECT_EQ(received[static_cast<size_t>(i)], i);
  EXPECT_EQ(last_seen_colour.load(), Lavender);
  EXPECT_GT(presents.load(), 0);

  const int before = presents.load();
  bool presented = RefreshTurn(link, true, surface, [](const Image&, const Rect&) {});
  EXPECT_FALSE(presented) << "nothing drawn, nothing presented";
  EXPECT_EQ(presents.load(), before);
}

TEST(RefreshCycle, ClosedWindowClearsAliveAndPresentsNothing) {
  ScreenFont font;
  Surface surface(50, 50);
  Painter painter(surface, font);
  WindowLink link;
  link.Alive.store(1);
  painter.DrawBox(0, 0, 5, 5, 0, Grey, Grey);
  bool presented = RefreshTurn(link, false, surface, [](const Image&, const Rect&) {});
  EXPECT_FALSE(presented);
  EXPECT_EQ(link.Alive.load(), 0);
}

// A few items make it full; an event of several items is still taken whole,
// in order, and Clear empties it.
TEST(InputQueue, IsFullAfterAFewItemsAndKeepsOrder) {
  InputQueue<int> queue;
  EXPECT_LE(InputQueue<int>::Capacity, 8u) << "a few keys, not thousands";
  for (size_t i = 0; i < InputQueue<int>::Capacity; ++i) {
    EXPECT_FALSE(queue.Full());
    queue.Push(static_cast<int>(i));
  }
  EXPECT_TRUE(queue.Full());
  queue.Push(-1);
  for (size_t i = 0; i < InputQueue<int>::Capacity; ++i) EXPECT_EQ(queue.Pop(), static_cast<int>(i));
  EXPECT_EQ(queue.Pop(), -1);
  EXPECT_FALSE(queue.Pop().has_value());
  queue.Push(1);
  queue.Clear();
  EXPECT_TRUE(queue.Empty());
}

}  // namespace
}  // namespace quorvant
