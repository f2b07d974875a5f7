#include "crypto/format_bytes.h"

#include <array>

namespace quorvant::judge_detail {

std::uint32_t Crc32Of(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

Inflater::Inflater(int window_bits) { ready_ = inflateInit2(&stream_, window_bits) == Z_OK; }

Inflater::~Inflater() {
  if (ready_) inflateEnd(&stream_);
}

Inflated Inflater::Feed(std::span<const std::uint8_t> input) {
  if (!ready_ || result_.end != StreamEnd::Cut) return result_;
  std::array<std::uint8_t, 32768> output;
  stream_.next_in = const_cast<Bytef*>(input.data());
  stream_.avail_in = static_cast<uInt>(input.size());
  while (result_.length < MostInflated) {
    stream_.next_out = output.data();
    stream_.avail_out = static_cast<uInt>(output.size());
    const int status = inflate(&stream_, Z_NO_FLUSH);
    const std::size_t made = output.size() - stream_.avail_out;
    result_.crc = static_cast<std::uint32_t>(crc32(result_.crc, output.data(), static_cast<uInt>(made)));
    result_.length += made;
    if (status == Z_STREAM_END) {
      result_.end = StreamEnd::Complete;
      break;
    }
    if (status == Z_DATA_ERROR) {
      result_.end = StreamEnd::Broken;
      break;
    }
    // Z_BUF_ERROR: all input used; Z_NEED_DICT, Z_MEM_ERROR: nothing more to tell.
    if (status != Z_OK || (stream_.avail_in == 0 && stream_.avail_out != 0)) break;
  }
  consumed_total_ += input.size() - stream_.avail_in;
  result_.consumed = consumed_total_;
  return result_;
}

Inflated InflateStart(std::span<const std::uint8_t> input, int window_bits) {
  Inflater inflater(window_bits);
  return inflater.Feed(input);
}

}  // namespace quorvant::judge_detail
