#include "ui/resize_layout.h"

#include <algorithm>
#include <cmath>

namespace kestrin {

namespace {

int Round(double value) { return static_cast<int>(std::lround(value)); }

double Given(double ratio) { return ratio < 0 ? 0.0 : ratio; }

bool Moves(int border, bool first_side) {
  // first_side: left (or top); otherwise right (or bottom).
  return first_side ? (border == kLeft || border == kTopLeft || border == kBottomLeft)
                    : (border == kRight || border == kTopRight || border == kBottomRight);
}

bool MovesTop(int border) { return border == kTop || border == kTopLeft || border == kTopRight; }
bool MovesBottom(int border) {
  return border == kBottom || border == kBottomLeft || border == kBottomRight;
}

// The mode of the moving border: the first one when it moves and is not 0.
int ModeOf(bool first_moves, int first_mode, bool second_moves, int second_mode) {
  if (first_moves && first_mode != 0) return first_mode;
  if (second_moves && second_mode != 0) return second_mode;
  return 0;
}

// One direction of a control. `start`, `end` are the record's edges,
// `placed_*` where the control stands; `changed` is the extent's change
// since the last placement, `grown` since the start.
struct tAxis {
  int start, end, placed_start, placed_end;
  int extent, initial_extent, changed, grown;
  double ra, rb;
  bool keeps_place;  // another mode of this direction is 4 or 5
};

void Place(int mode, const tAxis& a, int* start, int* end) {
  switch (mode) {
    case 1:
      *start = a.start, *end = a.end + a.changed;
      return;
    case 2:
      *start = a.start + a.changed, *end = a.end + a.changed;
      return;
    case 3: {
      const int size = a.end - a.start;
      *start = Round(a.extent * Given(a.ra) - size / 2.0);
      *end = *start + size;
      return;
    }
    case 4:
      if (a.initial_extent <= 0) break;
      *start = Round(static_cast<double>(a.start) * a.extent / a.initial_extent);
      *end = Round(static_cast<double>(a.end) * a.extent / a.initial_extent);
      return;
    case 5:
      *start = a.start + Round(Given(a.ra) * a.grown);
      *end = a.end + Round((Given(a.ra) + Given(a.rb)) * a.grown);
      return;
    default:
      if (a.keeps_place) {
        *start = a.placed_start, *end = a.placed_end;
        return;
      }
      break;
  }
  *start = a.start, *end = a.end;
}

bool IsScaling(int mode) { return mode == 4 || mode == 5; }

}  // namespace

void ResizeLayout::Start(const tRect& client) {
  initial_ = client;
  previous_ = client;
}

void ResizeLayout::AddControl(int id, const tRect& rect, int left_mode, int right_mode,
                              int top_mode, int bottom_mode, int options, double r1, double r2,
                              double r3, double r4) {
  tControlRecord record;
  record.id = id;
  record.left_mode = static_cast<unsigned>(left_mode) & 0xF;
  record.right_mode = static_cast<unsigned>(right_mode) & 0xF;
  record.top_mode = static_cast<unsigned>(top_mode) & 0xF;
  record.bottom_mode = static_cast<unsigned>(bottom_mode) & 0xF;
  record.options = static_cast<unsigned>(options) & 0x3;
  record.rect = rect;
  record.placed = rect;
  record.r1 = r1, record.r2 = r2, record.r3 = r3, record.r4 = r4;
  auto centred = [](int mode) { return mode == 3 || mode == 4; };
  const int width = previous_.width(), height = previous_.height();
  if ((centred(left_mode) || centred(right_mode)) && width > 0)
    record.r1 = (rect.left + rect.right) / 2.0 / width;
  if ((centred(top_mode) || centred(bottom_mode)) && height > 0)
    record.r3 = (rect.top + rect.bottom) / 2.0 / height;
  for (tControlRecord& existing : records_) {
    if (existing.id == id) {
      existing = record;
      return;
    }
  }
  records_.push_back(record);
}

std::vector<tPlacement> ResizeLayout::Resize(const tRect& client, int border) {
  std::vector<tPlacement> moves;
  if (records_.empty()) return moves;
  if (border == kNoBorder) {
    previous_ = client;
    return moves;
  }
  const bool left = Moves(border, true), right = Moves(border, false);
  const bool top = MovesTop(border), bottom = MovesBottom(border);
  for (tControlRecord& r : records_) {
    const int h_mode = ModeOf(left, r.left_mode, right, r.right_mode);
    const int v_mode = ModeOf(top, r.top_mode, bottom, r.bottom_mode);
    const tAxis h{r.rect.left,
                  r.rect.right,
                  r.placed.left,
                  r.placed.right,
                  client.width(),
                  initial_.width(),
                  client.width() - previous_.width(),
                  client.width() - initial_.width(),
                  r.r1,
                  r.r2,
                  IsScaling(r.left_mode) || IsScaling(r.right_mode)};
    const tAxis v{r.rect.top,
                  r.rect.bottom,
                  r.placed.top,
                  r.placed.bottom,
                  client.height(),
                  initial_.height(),
                  client.height() - previous_.height(),
                  client.height() - initial_.height(),
                  r.r3,
                  r.r4,
                  IsScaling(r.top_mode) || IsScaling(r.bottom_mode)};
    tRect next;
    Place(h_mode, h, &next.left, &next.right);
    Place(v_mode, v, &next.top, &next.bottom);
    if (next == r.placed) continue;
    moves.push_back({r.id, next, r.placed, (r.options & kRepaint) != 0});
    r.placed = next;
    if (h_mode <= 2 && v_mode <= 2) r.rect = next;
  }
  previous_ = client;
  return moves;
}

int ResizeLayout::BorderFromRects(const tRect& before, const tRect& after) {
  const bool left = after.left != before.left && after.width() != before.width();
  const bool right = after.right != before.right && after.width() != before.width();
  const bool top = after.top != before.top && after.height() != before.height();
  const bool bottom = after.bottom != before.bottom && after.height() != before.height();
  // Both edges of a direction moved (a maximised window): the far one
  // decides, as when that border is dragged.
  const int h = right ? 2 : left ? 1 : 0;
  const int v = bottom ? 2 : top ? 1 : 0;
  static constexpr int kBorders[3][3] = {
      {kNoBorder, kLeft, kRight}, {kTop, kTopLeft, kTopRight}, {kBottom, kBottomLeft, kBottomRight}};
  return kBorders[v][h];
}

void ResizeLayout::Constrain(int* width, int* height) const {
  if (min_width_ > 0) *width = std::max(*width, min_width_);
  if (min_height_ > 0) *height = std::max(*height, min_height_);
  if (max_width() > 0) *width = std::min(*width, max_width());
  if (max_height() > 0) *height = std::min(*height, max_height());
}

}  // namespace kestrin
