// A base for encoders that work one 32 KiB frame at a time (stored, MSZIP):
// it cuts the folder's bytes into frames and keeps the frame before the
// current one as history.
#ifndef KESTRIN_CABINET_FRAME_ENCODER_H_
#define KESTRIN_CABINET_FRAME_ENCODER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/block_encoder.h"

namespace kestrin::cab {

class FrameEncoder : public BlockEncoder {
 public:
  explicit FrameEncoder(EncodedBlockSink sink)
      : sink_(std::move(sink)), frames_{std::vector<uint8_t>(kMaxBlockSize), std::vector<uint8_t>(kMaxBlockSize)} {}

  bool Write(const uint8_t* data, size_t size) final {
    while (size > 0) {
      const size_t take = std::min<size_t>(size, kMaxBlockSize - fill_);
      std::copy(data, data + take, frames_[current_].data() + fill_);
      fill_ += static_cast<uint32_t>(take);
      data += take;
      size -= take;
      if (fill_ == kMaxBlockSize && !Flush()) return false;
    }
    return true;
  }

  bool EndFolder() final {
    const bool ok = fill_ == 0 || Flush();
    have_history_ = false;
    fill_ = 0;
    return ok;
  }

  const std::string& LastError() const final { return error_; }

 protected:
  // Encodes one frame and hands its block to Emit. `history` is the frame
  // before it in the folder (kMaxBlockSize bytes), null for the first.
  virtual bool EncodeFrame(const uint8_t* frame, uint32_t size, const uint8_t* history) = 0;

  bool Emit(const uint8_t* data, uint32_t compressed_size, uint32_t uncompressed_size) {
    if (sink_(data, compressed_size, uncompressed_size)) return true;
    if (error_.empty()) error_ = "the cabinet writer refused a data block";
    return false;
  }

  std::string error_;

 private:
  bool Flush() {
    const bool ok = EncodeFrame(frames_[current_].data(), fill_,
                                have_history_ ? frames_[current_ ^ 1].data() : nullptr);
    current_ ^= 1;
    have_history_ = true;
    fill_ = 0;
    return ok;
  }

  EncodedBlockSink sink_;
  std::vector<uint8_t> frames_[2];
  int current_ = 0;
  uint32_t fill_ = 0;
  bool have_history_ = false;
};

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_FRAME_ENCODER_H_
