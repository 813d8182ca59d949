// What the LZX and Quantum encoders share: the folder cut into frames of
// 32768 bytes (one data block each), the match finder's buffer they pass
// through, and the list of matches of every position of a frame.
//
// A frame is encoded once the next frame is complete, or the folder ends:
// the match finder then always has its look-ahead, and a frame is final
// (translated, for LZX) before anything searches it.
#ifndef KESTRIN_CABINET_LZ_ENCODER_H_
#define KESTRIN_CABINET_LZ_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cabinet/block_encoder.h"
#include "cabinet/match_finder.h"

namespace kestrin::cab {

class LzEncoder : public BlockEncoder {
 public:
  static constexpr uint32_t kFrameSize = kMaxBlockSize;

  bool Write(const uint8_t* data, size_t size) final;
  bool EndFolder() final;
  const std::string& LastError() const final { return error_; }

  struct Effort {
    uint32_t nice_length;  // a match this long is taken without a search around it
    uint32_t max_depth;    // match finder nodes per search
  };

 protected:
  explicit LzEncoder(EncodedBlockSink sink) : sink_(std::move(sink)) {}

  // Allocates the match finder and, when `gather` is set, the match lists.
  // `max_offset` must stay below 2^window_bits.
  bool InitFrames(int window_bits, uint32_t max_offset, uint32_t min_length, uint32_t max_length,
                  const Effort& effort, bool gather);

  // Called once for each frame when it is complete, before any search.
  virtual void FrameComplete(uint8_t* /*frame*/, uint32_t /*size*/, uint64_t /*index*/) {}
  // Encodes the frame at buffer position `start` (finder().cursor() ==
  // start) and hands its data block to Emit.
  virtual bool EncodeFrame(size_t start, uint32_t size) = 0;
  // Sends what the method holds back after the folder's last frame.
  virtual bool FinishFolder() { return true; }
  // Sets the method's state for a new folder.
  virtual void StartFolder() = 0;

  // Forgets the folder: the match finder and the method's state.
  void ResetFolder();
  bool Emit(const uint8_t* data, uint32_t compressed_size, uint32_t uncompressed_size);
  bool Fail(const char* message);

  // Searches every position of the frame at `start`. Afterwards a position
  // has Taken() when a match of nice_length or more starts there: it is the
  // only one listed, extended as far as it goes, and the positions it covers
  // are Inside() it, with no list. Every other position lists its matches,
  // cut at the frame's end and at max_length, each longer than the one
  // before.
  void GatherMatches(size_t start, uint32_t size);
  const Match* MatchesAt(uint32_t pos) const { return matches_.get() + match_start_[pos]; }
  int MatchCountAt(uint32_t pos) const { return match_count_[pos] & 0x7FFF; }
  bool Taken(uint32_t pos) const { return (match_count_[pos] & kTaken) != 0 && !Inside(pos); }
  bool Inside(uint32_t pos) const { return match_count_[pos] == kInside; }

  MatchFinder& finder() { return finder_; }
  const Effort& effort() const { return effort_; }
  uint64_t folder_position() const { return folder_pos_; }

 private:
  static constexpr uint16_t kTaken = 0x8000;
  static constexpr uint16_t kInside = 0xFFFF;

  void CompleteFrame(uint32_t size);
  bool EncodeNext(uint32_t size);

  EncodedBlockSink sink_;
  MatchFinder finder_;
  Effort effort_{};
  uint32_t min_length_ = 0;
  uint32_t max_length_ = 0;
  std::unique_ptr<Match[]> matches_;
  std::unique_ptr<uint32_t[]> match_start_;
  std::unique_ptr<uint16_t[]> match_count_;

  // Buffer positions: the next frame to encode, and the end of the complete
  // frames (the folder's last may be short).
  size_t frame_start_ = 0;
  size_t complete_ = 0;
  uint64_t frames_complete_ = 0;
  uint64_t folder_pos_ = 0;
  bool failed_ = false;
  std::string error_;
};

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_LZ_ENCODER_H_
