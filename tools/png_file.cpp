#include "tools/png_file.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace quorvant {

namespace {

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

Status WritePng(const Image& image, int width, int height, const std::string& path) {
  width = std::clamp(width, 0, image.Width());
  height = std::clamp(height, 0, image.Height());
  if (width == 0 || height == 0) return Error{EINVAL, "write " + path + ": nothing to write"};

  std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "wb"));
  if (!file) return Error::FromErrno("write " + path);

  // The rows as RGB bytes, made before libpng starts, so that its error jump
  // never skips a destructor.
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
    rows[static_cast<std::size_t>(y)] = row;
    for (int x = 0; x < width; ++x) {
      const Colour colour = image.Pixel(x, y);
      row[3 * x] = static_cast<std::uint8_t>(colour & 0xFF);
      row[3 * x + 1] = static_cast<std::uint8_t>((colour >> 8) & 0xFF);
      row[3 * x + 2] = static_cast<std::uint8_t>((colour >> 16) & 0xFF);
    }
  }

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return Error{ENOMEM, "write " + path};
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return Error{EIO, "write " + path};
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);

  std::FILE* written = file.release();
  if (std::fclose(written) != 0) return Error::FromErrno("write " + path);
  return {};
}

}  // namespace quorvant
