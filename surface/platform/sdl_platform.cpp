#include "surface/platform/sdl_platform.h"

#include <SDL.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "base/keys.h"
#include "surface/platform/refresh_cycle.h"
#include "surface/text_encoding.h"

// Last: Xlib defines macros (Status, Bool) that clash with ordinary names.
#include <SDL_syswm.h>
#include <X11/Xlib.h>

namespace quorvant {

namespace {

// Two-character key texts: code 0, then the keyboard scan code.
std::string Extended(char scan_letter) { return std::string(1, '\0') + scan_letter; }

struct KeyMapping {
  SDL_Keycode key;
  char scan_letter;
};

// Navigation and function keys of the separate key block.
constexpr KeyMapping BlockKeys[] = {
    {SDLK_HOME, scan::Home},  {SDLK_UP, scan::Up},         {SDLK_PAGEUP, scan::PgUp},
    {SDLK_LEFT, scan::Left},  {SDLK_RIGHT, scan::Right},   {SDLK_END, scan::End},
    {SDLK_DOWN, scan::Down},  {SDLK_PAGEDOWN, scan::PgDn}, {SDLK_INSERT, scan::Insert},
    {SDLK_DELETE, scan::Del}, {SDLK_F11, scan::F11},       {SDLK_F12, scan::F12},
};

// The keypad's navigation keys, while NumLock is off.
constexpr KeyMapping KeypadKeys[] = {
    {SDLK_KP_7, scan::Home},   {SDLK_KP_8, scan::Up},       {SDLK_KP_9, scan::PgUp}, {SDLK_KP_4, scan::Left},
    {SDLK_KP_6, scan::Right},  {SDLK_KP_1, scan::End},      {SDLK_KP_2, scan::Down}, {SDLK_KP_3, scan::PgDn},
    {SDLK_KP_0, scan::Insert}, {SDLK_KP_PERIOD, scan::Del},
};

template <std::size_t N>
std::string Lookup(const KeyMapping (&table)[N], SDL_Keycode key) {
  for (const KeyMapping& mapping : table) {
    if (mapping.key == key) return Extended(mapping.scan_letter);
  }
  return {};
}

// The key text of a key that types no character.
std::string KeyText(const SDL_Keysym& key) {
  switch (key.sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return std::string(1, key::Enter);
    case SDLK_ESCAPE: return std::string(1, key::Escape);
    case SDLK_BACKSPACE: return std::string(1, key::Backspace);
    default: break;
  }
  if (key.sym >= SDLK_F1 && key.sym <= SDLK_F10) {
    return Extended(static_cast<char>(scan::F1 + (key.sym - SDLK_F1)));
  }
  if (std::string text = Lookup(BlockKeys, key.sym); !text.empty()) return text;
  if ((key.mod & KMOD_NUM) == 0) return Lookup(KeypadKeys, key.sym);
  return {};
}

// Splits typed UTF-8 text into one key per character, as its byte in the
// program's 8-bit texts; characters that page lacks deliver nothing.
void PushTypedText(const char* utf8, InputQueue<std::string>& keys) {
  for (const char32_t c : DecodeUtf8(utf8)) {
    const std::uint8_t byte = CodePointToCp1252(c);
    if (byte != 0) keys.Push(std::string(1, static_cast<char>(byte)));
  }
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

}  // namespace

SdlPlatform::SdlPlatform(Clock& clock) : clock_(clock) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "0");
  // Software frames straight into the window: no GL stack in memory.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  wake_fd_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "quorvant: no window system: %s\n", SDL_GetError());
  }
}

SdlPlatform::~SdlPlatform() {
  if (audio_device_ != 0) SDL_CloseAudioDevice(audio_device_);
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  SDL_Quit();
}

int SdlPlatform::Run(const std::function<int(Platform&)>& logic) {
  int code = 0;
  std::thread logic_thread([&] {
    code = logic(*this);
    std::lock_guard lock(request_mutex_);
    logic_finished_ = true;
    request_changed_.notify_all();
  });
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

std::string SdlPlatform::ReadKey(KeySite) {
  std::optional<std::string> key = keys_.Pop();
  return key ? std::move(*key) : std::string();
}

void SdlPlatform::Beep() {
  std::call_once(audio_once_, [&] {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return;
    SDL_AudioSpec want{};
    want.freq = 22050;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 512;
    audio_device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  });
  if (audio_device_ == 0) return;
  // A short 880 Hz tone with soft edges, about 60 ms.
  std::vector<std::int16_t> tone(22050 * 60 / 1000);
  for (size_t i = 0; i < tone.size(); ++i) {
    double edge = std::min(1.0, std::min(i, tone.size() - i) / 200.0);
    tone[i] = static_cast<std::int16_t>(6000 * edge * std::sin(2 * M_PI * 880 * i / 22050.0));
  }
  SDL_QueueAudio(audio_device_, tone.data(), static_cast<Uint32>(tone.size() * sizeof(std::int16_t)));
  SDL_PauseAudioDevice(audio_device_, 0);
}

void SdlPlatform::IdleSleep(Clock&, int milliseconds) {
  // Show what was just drawn without waiting for the next refresh turn.
  if (surface_ != nullptr && surface_->Dirty()) WakeWindow();
  std::unique_lock lock(input_mutex_);
  input_arrived_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
    return !keys_.Empty() || Link().ClickKind.load() != 0 || Link().Alive.load() == 0;
  });
}

bool SdlPlatform::MakeWindow() {
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
      std::string key = KeyText(event.key.keysym);
      if (!key.empty()) keys_.Push(std::move(key));
      break;
    }
    case SDL_TEXTINPUT: PushTypedText(event.text.text, keys_); break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT) {
        clicks_.Push(Click{event.button.clicks >= 2 ? 2 : 1, event.button.x, event.button.y});
      }
      break;
    default: break;
  }
}

void SdlPlatform::PumpEvents() {
  SDL_Event event;
  while (SDL_PollEvent(&event) != 0) HandleEvent(event);
  if (!window_open_ && window_ != nullptr) SDL_HideWindow(window_);
}

void SdlPlatform::WakeWindow() {
  if (!wake_fd_.IsOpen()) return;
  const std::uint64_t one = 1;
  (void)!write(wake_fd_.Get(), &one, sizeof one);
}

// Sleeps until the window system has an event, the logic has drawn
// something, or `milliseconds` are over. On X11 this waits on the
// connection itself: SDL's own timed wait polls every millisecond, which
// would cost an idle program far more than nothing.
void SdlPlatform::WaitForEvents(int milliseconds) {
  if (x_display_ == nullptr) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, milliseconds) != 0) HandleEvent(event);
    return;
  }
  auto* display = static_cast<Display*>(x_display_);
  if (XEventsQueued(display, QueuedAlready) > 0 || SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) return;
  pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {wake_fd_.Get(), POLLIN, 0}};
  if (poll(waits, wake_fd_.IsOpen() ? 2 : 1, milliseconds) > 0 && (waits[1].revents & POLLIN) != 0) {
    std::uint64_t count = 0;
    (void)!read(wake_fd_.Get(), &count, sizeof count);
  }
}

void SdlPlatform::NotifyInput() {
  std::lock_guard lock(input_mutex_);
  input_arrived_.notify_all();
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
      std::fprintf(stderr, "quorvant: cannot open the window: %s\n", SDL_GetError());
      request_changed_.wait(lock, [&] { return logic_finished_; });
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
    {
      std::lock_guard lock(request_mutex_);
      if (logic_finished_) break;
    }
    PumpEvents();
    if (RefreshTurn(Link(), window_open_, *surface_, present, clicks_)) {
      SDL_UpdateWindowSurfaceRects(window_, &shown, 1);
      if (present_observer_) present_observer_();
    }
    if (!keys_.Empty() || Link().ClickKind.load() != 0 || !window_open_) NotifyInput();
    // While a long operation runs the interval is 0: keep showing its
    // progress, at a pace the eye can follow without spinning a core.
    // Otherwise there is nothing to do until the window system or the logic
    // (having drawn) wakes us, except handing over clicks that queued up.
    const int interval = Link().RefreshInterval.load();
    int wait_ms = interval > 0 ? interval : 10;
    if (interval > 0 && clicks_.Empty()) wait_ms = 1000;
    WaitForEvents(wait_ms);
  }
}

}  // namespace quorvant
