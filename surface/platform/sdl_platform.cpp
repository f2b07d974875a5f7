#include "surface/platform/sdl_platform.h"

#include <SDL.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/keys.h"
#include "surface/platform/refresh_cycle.h"
#include "surface/platform/sdl_keys.h"
#include "surface/text_encoding.h"

// Last: Xlib defines macros (Status, Bool) that clash with ordinary names.
#include <SDL_syswm.h>
#include <X11/Xlib.h>

namespace quorvant {

namespace {

// The window systems a person can see a window on. SDL would otherwise fall
// back to drivers that run without a display (off-screen, dummy, the
// console's KMS), where the program would run on unseen.
constexpr const char* WindowSystems[] = {"x11", "wayland"};

bool IsWindowSystem(const char* driver) {
  if (driver == nullptr) return false;
  for (const char* name : WindowSystems) {
    if (std::strcmp(driver, name) == 0) return true;
  }
  return false;
}

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Splits typed UTF-8 text into one key per character, as its byte in the
// program's 8-bit texts; characters that page lacks deliver nothing.
bool PushTypedText(const char* utf8, bool repeat, InputQueue<KeyStroke>& keys) {
  bool pushed = false;
  for (const char32_t c : DecodeUtf8(utf8)) {
    const std::uint8_t byte = CodePointToCp1252(c);
    if (byte == 0) continue;
    keys.Push(KeyStroke{std::string(1, static_cast<char>(byte)), repeat});
    pushed = true;
  }
  return pushed;
}

// The events that carry keys and clicks, in SDL's numbering: taken from its
// queue only while ours has room, so that the rest wait there in order.
constexpr std::uint32_t FirstKeyEvent = SDL_KEYDOWN;
constexpr std::uint32_t LastKeyEvent = SDL_TEXTINPUT;
constexpr std::uint32_t FirstClickEvent = SDL_MOUSEMOTION;
constexpr std::uint32_t LastClickEvent = SDL_MOUSEWHEEL;

// Input events the program has no use for; not queued at all, so that a
// moving mouse cannot fill SDL's queue behind a full one of ours. SDL keeps
// its own record of held keys (which makes a held key's presses repeats)
// whether or not their releases are queued.
constexpr std::uint32_t UnusedInputEvents[] = {SDL_KEYUP, SDL_TEXTEDITING, SDL_MOUSEMOTION, SDL_MOUSEBUTTONUP,
                                               SDL_MOUSEWHEEL};

bool TakeEvent(SDL_Event& event, std::uint32_t first, std::uint32_t last) {
  return SDL_PeepEvents(&event, 1, SDL_GETEVENT, first, last) > 0;
}

// Copies a rectangle of the image (0x00BBGGRR) into the window's buffer in
// whatever 32-bit layout the window uses.
void CopyPixels(const Image& image, const Rect& area, SDL_Surface& target) {
  const SDL_PixelFormat& format = *target.format;
  if (format.BytesPerPixel != 4) return;
  const bool locked = SDL_MUSTLOCK(&target) && SDL_LockSurface(&target) == 0;
  for (int y = area.y1; y < area.y2; ++y) {
    const std::uint32_t* from = image.Row(y) + area.x1;
    auto* to =
        reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(target.pixels) + y * target.pitch) +
        area.x1;
    for (int x = area.x1; x < area.x2; ++x, ++from, ++to) {
      const std::uint32_t pixel = *from;
      const std::uint32_t red = pixel & 0xFF, green = (pixel >> 8) & 0xFF, blue = (pixel >> 16) & 0xFF;
      *to = (red << format.Rshift) | (green << format.Gshift) | (blue << format.Bshift) | format.Amask;
    }
  }
  if (locked) SDL_UnlockSurface(&target);
}

// Xlib's I/O error handler and the hang-up handler take no argument of ours;
// there is one window, and so one platform, per process.
std::atomic<SdlPlatform*> WindowPlatform{nullptr};

// The X connection is gone (the server died, the session ended). Xlib would
// end the process with status 1 as soon as this returned, so a file run in
// progress is first let finish, exactly as after a close of the window, and
// the process ends here with a status of its own.
int OnConnectionLost(Display*) {
  if (SdlPlatform* platform = WindowPlatform.load()) platform->WaitForLogicAfterLoss();
  std::exit(ExitDisplayLost);
}

// A closed terminal (SIGHUP) or Ctrl-\ (SIGQUIT) would end the process in the
// middle of a file run. They are taken as SIGTERM, which SDL turns into a
// close of the window; kill() is safe in a signal handler.
void OnHangUp(int) { kill(getpid(), SIGTERM); }

void HandleHangUps() {
  struct sigaction action {};
  action.sa_handler = OnHangUp;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGHUP, &action, nullptr);
  sigaction(SIGQUIT, &action, nullptr);
  // A write to a lost X connection must fail with EPIPE, which reaches
  // OnConnectionLost, instead of killing the process on the spot.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

SdlPlatform::SdlPlatform()
    : sync_([this] {
        // Off X11 the main thread sleeps in SDL's own event wait, which an
        // event pushed from here ends.
        if (on_x11_.load()) return;
        SDL_Event wake{};
        wake.type = SDL_USEREVENT;
        SDL_PushEvent(&wake);
      }) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "0");
  // Software frames straight into the window: no GL stack in memory.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_Init(SDL_INIT_EVENTS) != 0) {
    problem_ = std::string("cannot start SDL: ") + SDL_GetError();
    return;
  }
  for (const std::uint32_t type : UnusedInputEvents) SDL_EventState(type, SDL_IGNORE);
  problem_ = OpenVideo();
}

SdlPlatform::~SdlPlatform() {
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  SDL_Quit();
}

// Tries the window systems in turn, or only the one SDL_VIDEODRIVER names.
// Wayland is tried only where a session announces it, so that a machine
// without a display gives one clear message, not the library's complaints.
std::string SdlPlatform::OpenVideo() {
  std::string failure;
  auto attempt = [&](const char* driver) {
    if (driver != nullptr) SDL_SetHint(SDL_HINT_VIDEODRIVER, driver);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      failure = SDL_GetError();
      return false;
    }
    if (IsWindowSystem(SDL_GetCurrentVideoDriver())) return true;
    failure = std::string("the ") + SDL_GetCurrentVideoDriver() + " driver shows no window";
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  };
  if (EnvironmentSet("SDL_VIDEODRIVER")) {
    if (attempt(nullptr)) return {};
    return "cannot open a window: " + failure;
  }
  if (attempt("x11")) return {};
  if (EnvironmentSet("WAYLAND_DISPLAY") && attempt("wayland")) return {};
  if (!EnvironmentSet("DISPLAY") && !EnvironmentSet("WAYLAND_DISPLAY")) {
    return "cannot open a window: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
  }
  if (EnvironmentSet("DISPLAY"))
    return std::string("cannot open a window on display ") + std::getenv("DISPLAY") + ": " + failure;
  return "cannot open a window: " + failure;
}

int SdlPlatform::Run(const std::function<int(Platform&)>& logic) {
  // Termination signals go to this thread, whose sleep they end so that SDL
  // turns them into a close of the window; the logic thread never takes them.
  HandleHangUps();
  sigset_t signals, previous;
  sigemptyset(&signals);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal_number);
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  int code = 0;
  std::thread logic_thread([&] {
    logic_thread_id_.store(std::this_thread::get_id());
    code = logic(*this);
    {
      std::lock_guard lock(request_mutex_);
      logic_finished_ = true;
      request_changed_.notify_all();
    }
    sync_.LogicFinished();
  });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  RunWindow();
  logic_thread.join();
  return code;
}

WorkArea SdlPlatform::DesktopWorkArea() {
  SDL_Rect bounds{0, 0, 0, 0};
  if (SDL_GetDisplayUsableBounds(0, &bounds) != 0) return WorkArea{};
  return WorkArea{bounds.w, bounds.h};
}

int SdlPlatform::SurfaceDpi() {
  float vertical = 96;
  if (SDL_GetDisplayDPI(0, nullptr, nullptr, &vertical) != 0 || vertical <= 0) return 96;
  return static_cast<int>(std::lround(vertical));
}

bool SdlPlatform::CreateWindow(const char* caption, int x, int y, Surface& surface) {
  std::unique_lock lock(request_mutex_);
  caption_ = caption;
  window_x_ = x;
  window_y_ = y;
  surface_ = &surface;
  window_requested_ = true;
  request_changed_.notify_all();
  request_changed_.wait(lock, [&] { return window_answered_; });
  return window_ok_;
}

// Room again in a full queue: the window thread may take the next event
// that waits in SDL's queue.
void SdlPlatform::TakeClick() {
  const bool was_full = clicks_.Full();
  HandOverClick(Link(), clicks_);
  if (was_full && !clicks_.Full()) sync_.InputTaken();
}

KeyStroke SdlPlatform::ReadKeyStroke(KeySite) {
  TakeClick();
  const bool was_full = keys_.Full();
  std::optional<KeyStroke> key = keys_.Pop();
  if (was_full && !keys_.Full()) sync_.InputTaken();
  return key ? std::move(*key) : KeyStroke{};
}

DroppedInput SdlPlatform::DropInput(InputKind what) {
  const DroppedInput dropped = sync_.DropAndWait(what);
  // The click handed over to the logic is the logic's own to drop.
  Link().ClearClick();
  return dropped;
}

void SdlPlatform::Beep() { sync_.RingBell(); }

void SdlPlatform::ShowSoon() {
  if (surface_ == nullptr || !window_ok_ || !surface_->Dirty()) return;
  sync_.AskFrame();
}

void SdlPlatform::ShowDrawing() {
  // window_ok_ is settled once CreateWindow has returned, which set surface_.
  if (surface_ == nullptr || !window_ok_ || !surface_->Dirty()) return;
  sync_.ShowAndWait();
}

WaitEnd SdlPlatform::Block(Clock& clock, const WaitRequest& request) {
  return sync_.WaitForLogic(clock, request, [&] {
    TakeClick();
    return !keys_.Empty() || Link().ClickKind.load() != 0;
  });
}

bool SdlPlatform::MakeWindow() {
  if (!Ready()) return false;
  window_ = SDL_CreateWindow(caption_.c_str(), window_x_, window_y_, surface_->Width(), surface_->Height(),
                             SDL_WINDOW_SHOWN);
  if (window_ == nullptr) return false;
  // The window's own pixel buffer: no renderer, no GPU context, so the
  // program stays small and copies only the rectangle that changed.
  if (SDL_GetWindowSurface(window_) == nullptr) return false;
  SDL_RaiseWindow(window_);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window_, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11) {
    x_display_ = info.info.x11.display;
    on_x11_.store(true);
    WindowPlatform.store(this);
    XSetIOErrorHandler(OnConnectionLost);
  }
  window_open_ = true;
  Link().Alive.store(1);
  return true;
}

void SdlPlatform::HandleEvent(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT: window_open_ = false; break;
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) window_open_ = false;
      if ((event.window.event == SDL_WINDOWEVENT_EXPOSED ||
           event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) &&
          surface_ != nullptr) {
        // Repaint everything after the window system lost our pixels.
        surface_->Modify(Rect{0, 0, surface_->Width(), surface_->Height()}, [](Image&) {});
      }
      break;
    case SDL_KEYDOWN: {
      last_press_repeated_ = event.key.repeat != 0;
      std::string key = SdlKeyText(event.key.keysym.sym, event.key.keysym.mod);
      if (key.empty()) break;
      keys_.Push(KeyStroke{std::move(key), last_press_repeated_});
      sync_.InputArrived();
      break;
    }
    case SDL_TEXTINPUT:
      if (PushTypedText(event.text.text, last_press_repeated_, keys_)) sync_.InputArrived();
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT) {
        clicks_.Push(Click{event.button.clicks >= 2 ? 2 : 1, event.button.x, event.button.y});
        sync_.InputArrived();
      }
      break;
    default: break;
  }
}

// Handles the window's own events, and keys and clicks only while their
// queue has room: the others stay in SDL's queue, in order, until the logic
// has taken some (InputTaken wakes this thread).
void SdlPlatform::PumpEvents() {
  SDL_PumpEvents();
  SDL_Event event;
  while (TakeEvent(event, SDL_FIRSTEVENT, FirstKeyEvent - 1)) HandleEvent(event);
  while (TakeEvent(event, LastKeyEvent + 1, FirstClickEvent - 1)) HandleEvent(event);
  while (TakeEvent(event, LastClickEvent + 1, SDL_LASTEVENT)) HandleEvent(event);
  while (!keys_.Full() && TakeEvent(event, FirstKeyEvent, LastKeyEvent)) HandleEvent(event);
  while (!clicks_.Full() && TakeEvent(event, FirstClickEvent, LastClickEvent)) HandleEvent(event);
  if (!window_open_ && window_ != nullptr) SDL_HideWindow(window_);
}

// Whether SDL's queue holds an event this thread would take now.
bool SdlPlatform::EventsToTake() {
  return SDL_HasEvents(SDL_FIRSTEVENT, FirstKeyEvent - 1) ||
         SDL_HasEvents(LastKeyEvent + 1, FirstClickEvent - 1) ||
         SDL_HasEvents(LastClickEvent + 1, SDL_LASTEVENT) ||
         (!keys_.Full() && SDL_HasEvents(FirstKeyEvent, LastKeyEvent)) ||
         (!clicks_.Full() && SDL_HasEvents(FirstClickEvent, LastClickEvent));
}

// Drops the clicks (and with `keys`, the keys) that came until now: first
// everything the X server sent before this moment (one round trip), then
// what SDL holds, then ours. Tells whether an Esc was among the keys.
DroppedInput SdlPlatform::DropQueuedInput(bool keys) {
  if (x_display_ != nullptr) XSync(static_cast<Display*>(x_display_), False);
  SDL_PumpEvents();
  DroppedInput dropped;
  SDL_Event event;
  if (keys) {
    while (TakeEvent(event, FirstKeyEvent, LastKeyEvent)) {
      if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) dropped.escape = true;
    }
    for (std::optional<KeyStroke> key = keys_.Pop(); key; key = keys_.Pop()) {
      if (key::Is(key->text, key::Escape)) dropped.escape = true;
    }
  }
  SDL_FlushEvents(FirstClickEvent, LastClickEvent);
  clicks_.Clear();
  return dropped;
}

// Sleeps until the window system has an event, the logic wants something, a
// signal arrives, or `timeout_ms` are over (-1: no limit). On X11 this sleeps
// on the connection itself: SDL's own wait may poll every millisecond.
void SdlPlatform::WaitForEvents(int timeout_ms) {
  if (x_display_ == nullptr) {
    // SDL's own wait hands over whatever event comes first; a key taken so
    // while our queue is full is queued all the same (never lost), so off
    // X11 the queue's bound is kept only loosely.
    if (EventsToTake()) return;
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, timeout_ms) != 0) HandleEvent(event);
    return;
  }
  auto* display = static_cast<Display*>(x_display_);
  // Presenting reads the server's replies, and with them events, into
  // Xlib's queue, where the connection no longer signals them.
  if (XEventsQueued(display, QueuedAlready) > 0 || EventsToTake()) return;
  pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {sync_.WindowWakeFd(), POLLIN, 0}};
  // A signal ends the wait (EINTR) so that the next turn sees SDL's quit.
  (void)poll(waits, 2, timeout_ms);
}

void SdlPlatform::WaitForLogicAfterLoss() {
  // The logic thread touches the connection only while it starts, before any
  // file run: it must not wait for itself.
  if (std::this_thread::get_id() == logic_thread_id_.load()) return;
  Link().Alive.store(0);
  window_open_ = false;
  sync_.WindowGone();
  std::unique_lock lock(request_mutex_);
  request_changed_.wait(lock, [&] { return logic_finished_; });
}

void SdlPlatform::RingBell() {
  if (x_display_ == nullptr || !window_open_) return;
  auto* display = static_cast<Display*>(x_display_);
  XBell(display, 0);
  XFlush(display);
}

void SdlPlatform::RunWindow() {
  {
    std::unique_lock lock(request_mutex_);
    request_changed_.wait(lock, [&] { return window_requested_ || logic_finished_; });
    if (logic_finished_) return;
    window_ok_ = MakeWindow();
    window_answered_ = true;
    request_changed_.notify_all();
    if (!window_ok_) {
      // Nothing will ever be shown; no wait of the logic may hang on it.
      sync_.WindowGone();
      return;
    }
  }
  SDL_Rect shown{0, 0, 0, 0};
  auto present = [&](const Image& image, const Rect& dirty) {
    SDL_Surface* target = SDL_GetWindowSurface(window_);
    if (target == nullptr) return;
    const Rect area =
        dirty.Intersect(Rect{0, 0, std::min(image.Width(), target->w), std::min(image.Height(), target->h)});
    if (area.Empty()) return;
    CopyPixels(image, area, *target);
    shown = SDL_Rect{area.x1, area.y1, area.x2 - area.x1, area.y2 - area.y1};
  };
  for (;;) {
    PumpEvents();
    const WindowSync::Requests requests = sync_.TakeRequests();
    if (requests.logic_finished) break;
    if (requests.drop != 0) sync_.Dropped(requests.drop, DropQueuedInput(requests.drop_keys));
    if (RefreshTurn(Link(), window_open_, *surface_, present)) {
      SDL_UpdateWindowSurfaceRects(window_, &shown, 1);
    }
    // Alive is 0 by now, so a logic woken by this sees the window gone.
    if (!window_open_) sync_.WindowGone();
    sync_.Presented(requests.frame);
    if (requests.bell) RingBell();
    WaitForEvents(-1);
  }
}

}  // namespace quorvant
