#pragma once

// Formats that carry checksums or strict structure in their first bytes
// (ZIP, gzip, PNG, JPEG, PDF): a start decrypted with a wrong key may still
// carry such a format's signature, but rarely survives its checks.

#include <cstdint>
#include <span>

namespace quorvant::judge_detail {

// What a start's format says of it. NotChecked: the start has none of the
// checked formats' signatures. Holds: all of it that can be checked checks
// out; a part cut by the end of the start, or out of reach (an encrypted
// ZIP entry, a method zlib does not decode), is not held against it.
enum class FormatProof { NotChecked, Holds, Broken };
FormatProof ProveZipStart(std::span<const std::uint8_t> start);
FormatProof ProveGzipStart(std::span<const std::uint8_t> start);
FormatProof ProvePngStart(std::span<const std::uint8_t> start);
FormatProof ProveJpegStart(std::span<const std::uint8_t> start);
FormatProof ProvePdfStart(std::span<const std::uint8_t> start);
// The one of the above whose signature the start carries.
FormatProof ProveStart(std::span<const std::uint8_t> start);

}  // namespace quorvant::judge_detail
