#include "cabinet/lz_encoder.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace kestrin::cab {
namespace {

// Matches listed per frame; a position whose list would not fit keeps only
// its longest match.
constexpr size_t kMatchCapacity = size_t{LzEncoder::kFrameSize} * 12;

// A frame whose bytes taken one by one carry this many bits each or more
// (already compressed data) is searched at every kSparseStep-th position
// only: it is rarely worth a match, and the one thing that pays there, a
// repeat of the whole of it, is found as well from a quarter of the
// positions.
constexpr double kDenseBits = 7.8;
constexpr uint32_t kSparseStep = 4;

bool LooksCompressed(const uint8_t* data, uint32_t size) {
  if (size < 4096) return false;
  uint32_t counts[256] = {};
  for (uint32_t i = 0; i < size; ++i) ++counts[data[i]];
  double sum = 0;  // of c * log2(c)
  for (uint32_t c : counts) {
    if (c > 1) sum += c * std::log2(static_cast<double>(c));
  }
  const double bits = std::log2(static_cast<double>(size)) - sum / size;
  return bits >= kDenseBits;
}

}  // namespace

bool LzEncoder::InitFrames(int window_bits, uint32_t max_offset, uint32_t min_length,
                              uint32_t max_length, const Effort& effort, bool gather) {
  effort_ = effort;
  min_length_ = min_length;
  max_length_ = max_length;
  MatchFinder::Params params{};
  params.window_bits = window_bits;
  params.max_offset = max_offset;
  params.min_length = min_length;
  params.nice_length = effort.nice_length;
  params.max_depth = effort.max_depth;
  params.lookahead = max_length;
  if (!finder_.Init(params)) return false;
  if (gather) {
    matches_.reset(new (std::nothrow) Match[kMatchCapacity + MatchFinder::kMaxMatches]);
    match_start_.reset(new (std::nothrow) uint32_t[kFrameSize]);
    match_count_.reset(new (std::nothrow) uint16_t[kFrameSize]);
    if (!matches_ || !match_start_ || !match_count_) return false;
  }
  return true;
}

void LzEncoder::ResetFolder() {
  finder_.Reset();
  frame_start_ = 0;
  complete_ = 0;
  frames_complete_ = 0;
  folder_pos_ = 0;
  StartFolder();
}

bool LzEncoder::Write(const uint8_t* data, size_t size) {
  if (failed_) return false;
  while (size > 0) {
    const size_t take = std::min<size_t>(size, kFrameSize - (finder_.end() - complete_));
    if (finder_.Room() < take) {
      const size_t moved = finder_.Slide(frame_start_);
      frame_start_ -= moved;
      complete_ -= moved;
    }
    finder_.Append(data, take);
    data += take;
    size -= take;
    if (finder_.end() - complete_ == kFrameSize) {
      CompleteFrame(kFrameSize);
      // The frame before this one has its look-ahead now.
      if (complete_ - frame_start_ > kFrameSize && !EncodeNext(kFrameSize)) return false;
    }
  }
  return true;
}

bool LzEncoder::EndFolder() {
  if (failed_) return false;
  if (finder_.end() > complete_) CompleteFrame(static_cast<uint32_t>(finder_.end() - complete_));
  while (frame_start_ < complete_) {
    if (!EncodeNext(static_cast<uint32_t>(std::min<size_t>(complete_ - frame_start_, kFrameSize)))) {
      return false;
    }
  }
  if (!FinishFolder()) return false;
  ResetFolder();
  return true;
}

void LzEncoder::CompleteFrame(uint32_t size) {
  FrameComplete(finder_.data() + complete_, size, frames_complete_++);
  complete_ += size;
}

bool LzEncoder::EncodeNext(uint32_t size) {
  if (!EncodeFrame(frame_start_, size)) return false;
  frame_start_ += size;
  folder_pos_ += size;
  return true;
}

bool LzEncoder::Emit(const uint8_t* data, uint32_t compressed_size, uint32_t uncompressed_size) {
  if (compressed_size > kMaxEncodedBlockSize) return Fail("a compressed data block came out too large");
  if (!sink_(data, compressed_size, uncompressed_size)) return Fail("the cabinet writer refused a data block");
  return true;
}

bool LzEncoder::Fail(const char* message) {
  failed_ = true;
  error_ = message;
  return false;
}

void LzEncoder::GatherMatches(size_t start, uint32_t size) {
  const uint8_t* const data = finder_.data() + start;
  const uint32_t step = LooksCompressed(data, size) ? kSparseStep : 1;
  size_t used = 0;
  uint32_t pos = 0;
  while (pos < size) {
    match_start_[pos] = static_cast<uint32_t>(used);
    if (pos % step != 0) {
      match_count_[pos] = 0;
      finder_.Pass(1);
      ++pos;
      continue;
    }
    Match* const list = matches_.get() + used;
    int n = finder_.FindMatches(list);
    // Cut at the frame's end; lengths that become equal keep the closest.
    const uint32_t room = std::min(size - pos, max_length_);
    int kept = 0;
    for (int k = 0; k < n; ++k) {
      Match m = list[k];
      if (m.length > room) m.length = room;
      if (m.length < min_length_) continue;
      if (kept > 0 && list[kept - 1].length >= m.length) continue;
      list[kept++] = m;
    }
    n = kept;
    if (n > 0 && list[n - 1].length >= effort_.nice_length) {
      // Long enough: extend it as far as it goes and enter its positions
      // without searching them.
      Match m = list[n - 1];
      m.length += MatchFinder::CommonLength(data + pos + m.length, data + pos + m.length - m.offset,
                                            room - m.length);
      list[0] = m;
      match_count_[pos] = kTaken | 1;
      used += 1;
      for (uint32_t k = 1; k < m.length; ++k) match_count_[pos + k] = kInside;
      finder_.Skip(m.length - 1);
      pos += m.length;
      continue;
    }
    if (used + n > kMatchCapacity && n > 1) {
      list[0] = list[n - 1];
      n = 1;
    }
    match_count_[pos] = static_cast<uint16_t>(n);
    used += static_cast<size_t>(n);
    ++pos;
  }
}

}  // namespace kestrin::cab
