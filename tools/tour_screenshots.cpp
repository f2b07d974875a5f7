// quorvant_tour: pictures of the main screens for the README.
//
//   quorvant_tour OUTPUT_FOLDER
//
// Runs the real program on the headless platform, in a temporary folder of
// sample files, with the test clock (so the logo's grain, the new name's salt
// and the keyboard's order come out the same on every run), plays a short
// session of keys and clicks, and writes a PNG at each stop, cropped to what
// the screen shows. tools/make_tour.sh builds it and refreshes docs/.

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/keys.h"
#include "surface/palette.h"
#include "surface/platform/headless_platform.h"
#include "tools/png_file.h"
#include "ui/panels.h"
#include "ui/program.h"

namespace quorvant::tour {
namespace {

constexpr WorkArea Area{1024, 640};
// Each picture keeps the window from its top left corner to what is drawn,
// and as much black beyond it as the program leaves at the left.
constexpr int ShotMargin = LeftMargin;
// Ten past ten in the morning.
constexpr std::int64_t StartTime = (10 * 3600 + 10 * 60) * 1000;
// The sample folder's real path is a new temporary one on every run; the
// pictures show this one instead, so they change only when the screens do.
constexpr const char* ShownFolder = "/home/user/Documents";
constexpr const char* SampleKey = "correct horse";

// The icon row's buttons, at their centres.
struct Point {
  int x, y;
};
constexpr Point StatisticsIcon{111, 105};
constexpr Point KeyboardIcon{138, 105};
constexpr Point ListFileIcon{165, 105};
constexpr Point HelpIcon{192, 105};

const std::string Enter = "\r";
const std::string Escape = "\x1b";
const std::string Down = HeadlessPlatform::Nav(scan::Down);

struct SampleFile {
  const char* name;
  std::string content;
};

std::string Repeated(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// Bytes that look like a compressed photo: a JPEG header, then noise.
std::string PhotoBytes(size_t size) {
  std::string bytes = "\xFF\xD8\xFF\xE0";
  bytes += std::string("\x00\x10JFIF\x00\x01\x01", 9);
  std::uint32_t state = 2024;
  while (bytes.size() < size) {
    state = state * 1664525u + 1013904223u;
    bytes.push_back(static_cast<char>(state >> 24));
  }
  return bytes;
}

std::vector<SampleFile> SampleFiles() {
  const std::string letter =
      "Dear Ada,\n\n"
      "Thank you for the photographs from the trip. The one of the harbour at dawn\n"
      "is on the kitchen wall now. We are planning to come north again in the\n"
      "spring, if the ferry runs by then; I will write when we know the dates.\n\n"
      "The garden survived the winter better than we feared. The apple tree has\n"
      "buds on every branch and the beans are already climbing the fence.\n\n"
      "With love,\nMarta\n\n";
  return {
      {"budget.csv",
       "month,rent,food,travel,savings\n" +
           Repeated("January,950,310,120,400\nFebruary,950,290,0,450\nMarch,950,330,260,300\n", 12)},
      {"letter.txt", Repeated(letter, 20)},
      {"photo.jpg", PhotoBytes(60'000)},
  };
}

// The width and height of the picture of `image`: up to the last column and
// row that hold anything but the background, then the margin.
std::pair<int, int> ShotSize(const Image& image) {
  int right = 0;
  int bottom = 0;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      if (image.Pixel(x, y) == Black) continue;
      right = std::max(right, x + 1);
      bottom = std::max(bottom, y + 1);
    }
  }
  return {std::min(right + ShotMargin, image.Width()), std::min(bottom + ShotMargin, image.Height())};
}

// A temporary folder, removed with what is in it at the end.
class SampleFolder {
 public:
  SampleFolder() {
    char pattern[] = "/tmp/quorvant-tour-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~SampleFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  SampleFolder(const SampleFolder&) = delete;
  SampleFolder& operator=(const SampleFolder&) = delete;

  bool Made() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class Tour {
 public:
  Tour(const std::string& folder, std::string output)
      : clock_(StartTime),
        platform_(Area, clock_),
        program_(platform_, clock_, folder),
        output_(std::move(output)) {}

  int Run() {
    Script();
    program_.Run();
    if (!platform_.ScriptDone()) {
      std::fprintf(stderr, "quorvant_tour: the program ended before the tour did\n");
      ++failures_;
    }
    return failures_ == 0 ? 0 : 1;
  }

 private:
  void Script() {
    HeadlessPlatform& p = platform_;
    // One cycle first, in which the program lists the folder and shows the
    // first file.
    p.Wait(1).Do([this] { ShowStableFolder(); });
    Shot("browser");

    p.Key(Enter).Type(SampleKey);
    Shot("key-entry");
    p.Key(Enter);
    Shot("encrypted");

    p.Key(Down);  // letter.txt, for the remaining screens
    p.Click(HelpIcon.x, HelpIcon.y);
    Shot("help");
    p.Key(Escape);

    p.Click(KeyboardIcon.x, KeyboardIcon.y);
    Shot("keyboard");
    p.Click(KeyboardIcon.x, KeyboardIcon.y);

    p.Click(StatisticsIcon.x, StatisticsIcon.y);
    Shot("statistics");
    p.Click(StatisticsIcon.x, StatisticsIcon.y);

    p.Click(ListFileIcon.x, ListFileIcon.y);
    Shot("byte-viewer");
    p.Key(Escape).Close();
  }

  void ShowStableFolder() {
    AppState& s = program_.State();
    s.CurrentFolder = ShownFolder;
    s.Painter->DrawBox(0, FolderRowY(s), s.Layout.WorkAreaWidth, FolderRowY(s) + s.Layout.LineHeight, 0,
                       Black, Black);
    DrawHeaderLabels(s);
  }

  // A cycle of the program (so a rescan after the last step is drawn), then
  // the picture.
  void Shot(const std::string& name) {
    platform_.Wait(1).Do([this, name] {
      const std::string path = output_ + "/" + name + ".png";
      const Status written = program_.GetSurface()->Read([&](const Image& image) {
        const auto [width, height] = ShotSize(image);
        return WritePng(image, width, height, path);
      });
      if (!written) {
        std::fprintf(stderr, "quorvant_tour: %s\n", written.error().Describe().c_str());
        ++failures_;
        return;
      }
      std::printf("%s\n", path.c_str());
    });
  }

  TestClock clock_;
  HeadlessPlatform platform_;
  Program program_;
  std::string output_;
  int failures_ = 0;
};

int Main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: quorvant_tour OUTPUT_FOLDER\n");
    return 2;
  }
  SampleFolder folder;
  if (!folder.Made()) {
    std::perror("quorvant_tour: mkdtemp");
    return 1;
  }
  for (const SampleFile& file : SampleFiles()) {
    const std::string path = folder.Path() + "/" + file.name;
    std::ofstream out(path, std::ios::binary);
    out.write(file.content.data(), static_cast<std::streamsize>(file.content.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "quorvant_tour: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  Tour tour(folder.Path(), argv[1]);
  return tour.Run();
}

}  // namespace
}  // namespace quorvant::tour

int main(int argc, char** argv) { return quorvant::tour::Main(argc, argv); }
