// The window thread and the logic thread waking each other. Run under
// ThreadSanitizer in CI. Waits without a limit really block here (the test
// clock lets only limited waits pass at once), so each test makes sure the
// other thread will end them.

#include "surface/platform/window_sync.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "surface/painter.h"
#include "surface/platform/input_queue.h"
#include "surface/platform/refresh_cycle.h"

namespace quorvant {
namespace {

// The window thread's loop, reduced to what the logic can ask of it: it
// sleeps on the wake-up descriptor, presents what was drawn and acknowledges.
class FakeWindow {
 public:
  FakeWindow(WindowSync& sync, Surface& surface) : sync_(sync), surface_(surface) {
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeWindow() { thread_.join(); }

  Colour OnScreen() const { return on_screen_.load(); }
  int Bells() const { return bells_.load(); }

 private:
  void Run() {
    WindowLink link;
    link.Alive.store(1);
    for (;;) {
      pollfd wake{sync_.WindowWakeFd(), POLLIN, 0};
      (void)poll(&wake, 1, -1);
      const WindowSync::Requests requests = sync_.TakeRequests();
      if (requests.logic_finished) return;
      if (requests.bell) bells_.fetch_add(1);
      RefreshTurn(link, true, surface_,
                  [&](const Image& image, const Rect&) { on_screen_.store(image.Pixel(5, 5)); });
      sync_.Presented(requests.frame);
    }
  }

  WindowSync& sync_;
  Surface& surface_;
  std::atomic<Colour> on_screen_{-1};
  std::atomic<int> bells_{0};
  std::thread thread_;
};

TEST(WindowSync, ShowAndWaitReturnsOnlyOnceTheDrawingIsOnScreen) {
  ScreenFont font;
  Surface surface(40, 40);
  Painter painter(surface, font);
  WindowSync sync;
  {
    FakeWindow window(sync, surface);
    const Colour colours[] = {Grey, Brown, Lavender, SlateGrey};
    for (int i = 0; i < 400; ++i) {
      const Colour colour = colours[i % 4];
      painter.DrawBox(0, 0, 10, 10, 0, colour, colour);
      sync.ShowAndWait();
      ASSERT_EQ(window.OnScreen(), colour) << "frame " << i;
    }
    sync.RingBell();
    painter.DrawBox(0, 0, 10, 10, 0, Grey, Grey);
    sync.ShowAndWait();  // the bell's turn, or a later one
    EXPECT_EQ(window.Bells(), 1);
    sync.LogicFinished();
  }
  EXPECT_FALSE(sync.Gone());
}

TEST(WindowSync, InputFromTheWindowThreadEndsAnInputWait) {
  WindowSync sync;
  TestClock clock;
  InputQueue<std::string> keys;
  auto pending = [&] { return !keys.Empty(); };
  for (int round = 0; round < 50; ++round) {
    std::thread window([&] {
      keys.Push("k");
      sync.InputArrived();
    });
    // May find the key already there, or sleep until the signal.
    EXPECT_EQ(sync.WaitForLogic(clock, WaitRequest::Input(-1, -1), pending), WaitEnd::Input);
    window.join();
    EXPECT_EQ(keys.Pop(), "k");
  }
  EXPECT_EQ(clock.SleptMilliseconds(), 0);
}

// A drop returns only once the window thread has dropped what came before
// it (here a queue that the window side keeps filling), and tells whether an
// Esc was among the keys; after the close it returns at once.
TEST(WindowSync, DropReturnsOnceTheWindowHasDroppedWhatCame) {
  WindowSync sync;
  InputQueue<std::string> keys;
  std::atomic<bool> stop{false};
  std::thread window([&] {
    int round = 0;
    while (!stop.load()) {
      pollfd wake{sync.WindowWakeFd(), POLLIN, 0};
      (void)poll(&wake, 1, 10);
      keys.Push(round++ % 3 == 0 ? "\x1b" : "k");
      const WindowSync::Requests requests = sync.TakeRequests();
      if (requests.drop == 0) continue;
      DroppedInput dropped;
      if (requests.drop_keys) {
        for (auto key = keys.Pop(); key; key = keys.Pop()) dropped.escape = dropped.escape || *key == "\x1b";
      }
      sync.Dropped(requests.drop, dropped);
    }
  });
  for (int i = 0; i < 50; ++i) {
    keys.Push("\x1b");
    EXPECT_TRUE(sync.DropAndWait(InputKind::KeysAndClicks).escape) << "round " << i;
    keys.Push("\x1b");
    EXPECT_FALSE(sync.DropAndWait(InputKind::Clicks).escape) << "the keys are kept";
  }
  stop.store(true);
  window.join();
  sync.WindowGone();
  EXPECT_FALSE(sync.DropAndWait(InputKind::KeysAndClicks).escape);
}

TEST(WindowSync, ClosingEndsEveryWaitNowAndLater) {
  WindowSync sync;
  TestClock clock;
  auto nothing = [] { return false; };
  std::thread window([&] { sync.WindowGone(); });
  EXPECT_EQ(sync.WaitForLogic(clock, WaitRequest::Input(-1, -1), nothing), WaitEnd::Closed);
  window.join();
  // A notice shown after the close does not hold the program up.
  EXPECT_EQ(sync.WaitForLogic(clock, WaitRequest::Pause(2500), nothing), WaitEnd::Closed);
  EXPECT_EQ(clock.SleptMilliseconds(), 0);
  sync.ShowAndWait();  // nobody will show it; returns at once
  EXPECT_TRUE(sync.Gone());
}

TEST(WindowSync, LimitsAndTheFolderWatchEndAWait) {
  WindowSync sync;
  TestClock clock;
  auto nothing = [] { return false; };
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  UniqueFd read_end(ends[0]), write_end(ends[1]);

  // A pause lets its time pass even while input arrives.
  sync.InputArrived();
  EXPECT_EQ(sync.WaitForLogic(clock, WaitRequest::Pause(1500), [] { return true; }), WaitEnd::Timeout);
  EXPECT_EQ(clock.SleptMilliseconds(), 1500);
  // The input signal is still there for the next input wait.
  EXPECT_EQ(sync.WaitForLogic(clock, WaitRequest::Input(600, read_end.Get()), nothing), WaitEnd::Input);
  EXPECT_EQ(sync.WaitForLogic(clock, WaitRequest::Input(600, read_end.Get()), nothing), WaitEnd::Timeout);
  EXPECT_EQ(clock.SleptMilliseconds(), 2100);

  std::thread folder([&] { ASSERT_EQ(write(write_end.Get(), "x", 1), 1); });
  EXPECT_EQ(sync.WaitForLogic(clock, WaitRequest::Input(-1, read_end.Get()), nothing), WaitEnd::Woken);
  folder.join();
}

}  // namespace
}  // namespace quorvant
