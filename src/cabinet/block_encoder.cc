// The encoder factory, the stored-block encoder, and the method names of
// `kestrin-cab c -m`.
#include "cabinet/block_encoder.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "cabinet/fdi.h"
#include "cabinet/frame_encoder.h"

namespace kestrin::cab {
namespace {

class StoredEncoder final : public FrameEncoder {
 public:
  using FrameEncoder::FrameEncoder;
  uint16_t TypeCompress() const override { return tcompTYPE_NONE; }

 private:
  bool EncodeFrame(const uint8_t* frame, uint32_t size, const uint8_t*) override {
    return Emit(frame, size, size);
  }
};

// A decimal number from `text`, wholly; false for anything else.
bool ParseInt(std::string_view text, int* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && !text.empty();
}

constexpr char kMethods[] = "none, mszip, lzx:15..21 or quantum:1..7:10..21";

}  // namespace

std::unique_ptr<BlockEncoder> MakeStoredEncoder(EncodedBlockSink sink) {
  return std::make_unique<StoredEncoder>(std::move(sink));
}

bool ParseEncoderSpec(std::string_view text, EncoderSpec* spec, std::string* error) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string_view t = lower;
  EncoderSpec s;
  bool ok = false;
  if (t == "none") {
    s.method = EncoderSpec::kNone;
    ok = true;
  } else if (t == "mszip") {
    s.method = EncoderSpec::kMszip;
    ok = true;
  } else if (t.substr(0, 4) == "lzx:") {
    s.method = EncoderSpec::kLzx;
    ok = ParseInt(t.substr(4), &s.window_bits) && s.window_bits >= 15 && s.window_bits <= 21;
  } else if (t.substr(0, 8) == "quantum:") {
    s.method = EncoderSpec::kQuantum;
    const std::string_view rest = t.substr(8);
    const size_t colon = rest.find(':');
    ok = colon != std::string_view::npos && ParseInt(rest.substr(0, colon), &s.level) &&
         ParseInt(rest.substr(colon + 1), &s.window_bits) && s.level >= 1 && s.level <= 7 &&
         s.window_bits >= 10 && s.window_bits <= 21;
  }
  if (!ok) {
    if (error) *error = "unknown compression method \"" + std::string(text) + "\" (use " + kMethods + ")";
    return false;
  }
  *spec = s;
  return true;
}

std::string EncoderSpecName(const EncoderSpec& spec) {
  char buf[32];
  switch (spec.method) {
    case EncoderSpec::kNone: return "none";
    case EncoderSpec::kMszip: return "mszip";
    case EncoderSpec::kLzx:
      std::snprintf(buf, sizeof buf, "lzx:%d", spec.window_bits);
      return buf;
    case EncoderSpec::kQuantum:
      std::snprintf(buf, sizeof buf, "quantum:%d:%d", spec.level, spec.window_bits);
      return buf;
  }
  return "?";
}

bool IsNotAvailableError(std::string_view text) {
  return text.find("not available in this build") != std::string_view::npos;
}

uint32_t MaxEncodedBlockSize(uint16_t type_compress) {
  switch (type_compress & tcompMASK_TYPE) {
    case tcompTYPE_NONE: return kMaxBlockSize;
    case tcompTYPE_MSZIP: return kMaxBlockSize + 12;
    default: return kMaxEncodedBlockSize;
  }
}

std::unique_ptr<BlockEncoder> MakeBlockEncoder(const EncoderSpec& spec, EncodedBlockSink sink,
                                               std::string* error) {
  std::string why;
  std::unique_ptr<BlockEncoder> encoder;
  switch (spec.method) {
    case EncoderSpec::kNone: encoder = MakeStoredEncoder(std::move(sink)); break;
    case EncoderSpec::kMszip: encoder = MakeMszipEncoder(std::move(sink), &why); break;
    case EncoderSpec::kLzx:
      if (spec.window_bits < 15 || spec.window_bits > 21) {
        why = "the LZX window must be 2^15 to 2^21";
      } else {
        encoder = MakeLzxEncoder(spec.window_bits, std::move(sink), &why);
      }
      break;
    case EncoderSpec::kQuantum:
      if (spec.level < 1 || spec.level > 7 || spec.window_bits < 10 || spec.window_bits > 21) {
        why = "Quantum takes levels 1 to 7 and windows 2^10 to 2^21";
      } else {
        encoder = MakeQuantumEncoder(spec.level, spec.window_bits, std::move(sink), &why);
      }
      break;
  }
  if (!encoder && error) *error = why.empty() ? "the encoder could not be made" : why;
  return encoder;
}

}  // namespace kestrin::cab
