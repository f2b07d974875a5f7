#include "tools/png_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string_view>

#include "tools/deflate.h"

namespace quorvant {

namespace {

constexpr std::uint8_t Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Length, type, data, and the CRC over type and data.
void PutChunk(std::vector<std::uint8_t>& out, std::string_view type, std::span<const std::uint8_t> data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const size_t type_at = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  PutBigEndian(out, Crc32(std::span(out).subspan(type_at)));
}

// Each row goes in with the filter that leaves the smallest sum of bytes (read
// as signed): Sub for runs along the row, Up for rows like the one above. Either
// turns the black background and flat boxes into zeros, which compress best.
void PutFilteredRow(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> row,
                    std::span<const std::uint8_t> above) {
  constexpr size_t BytesPerPixel = 3;
  std::vector<std::uint8_t> sub(row.size()), up(row.size());
  long sub_cost = 0, up_cost = 0;
  for (size_t i = 0; i < row.size(); ++i) {
    sub[i] = static_cast<std::uint8_t>(row[i] - (i >= BytesPerPixel ? row[i - BytesPerPixel] : 0));
    up[i] = static_cast<std::uint8_t>(row[i] - (above.empty() ? 0 : above[i]));
    sub_cost += std::abs(static_cast<std::int8_t>(sub[i]));
    up_cost += std::abs(static_cast<std::int8_t>(up[i]));
  }
  const bool use_up = up_cost < sub_cost;
  out.push_back(use_up ? 2 : 1);
  const std::vector<std::uint8_t>& chosen = use_up ? up : sub;
  out.insert(out.end(), chosen.begin(), chosen.end());
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const Image& image, int width, int height) {
  width = std::clamp(width, 1, image.width());
  height = std::clamp(height, 1, image.height());

  std::vector<std::uint8_t> header;
  PutBigEndian(header, static_cast<std::uint32_t>(width));
  PutBigEndian(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filters, no interlace

  const size_t row_bytes = static_cast<size_t>(width) * 3;
  std::vector<std::uint8_t> raw;
  raw.reserve((row_bytes + 1) * static_cast<size_t>(height));
  std::vector<std::uint8_t> row(row_bytes), above;
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* pixels = image.Row(y);
    for (int x = 0; x < width; ++x) {
      const auto colour = static_cast<Colour>(pixels[x]);
      row[static_cast<size_t>(x) * 3] = RedOf(colour);
      row[static_cast<size_t>(x) * 3 + 1] = GreenOf(colour);
      row[static_cast<size_t>(x) * 3 + 2] = BlueOf(colour);
    }
    PutFilteredRow(raw, row, above);
    above = row;
  }

  std::vector<std::uint8_t> png(std::begin(Signature), std::end(Signature));
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", ZlibCompress(raw));
  PutChunk(png, "IEND", {});
  return png;
}

Status WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Error::FromErrno("open " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      const Error error = Error::FromErrno("write " + path);
      close(fd);
      return error;
    }
    done += static_cast<size_t>(written);
  }
  if (close(fd) != 0) return Error::FromErrno("close " + path);
  return {};
}

}  // namespace quorvant
