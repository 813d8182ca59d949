// The geometry of a resizable dialog, without any window: a table of
// controls with an anchoring mode per border, and the rectangles they get
// when the dialog's client area changes size.
//
// Modes, the same along both directions (the extent is the client width or
// height):
//   0  nothing moves
//   1  the far edge follows the change since the last placement (the
//      control grows and shrinks)
//   2  both edges follow the change since the last placement (the control
//      keeps its distance from the far border)
//   3  size kept, centred at fraction r1 (r3) of the new extent
//   4  both edges of the registered rectangle scaled by new extent over
//      initial extent
//   5  start moved by r1 (r3) times the change since the start, end moved by
//      r1 + r2 (r3 + r4) times that change
// The mode that applies along a direction is the one of the moving border:
// the left (top) border's mode when that border moves and its mode is not
// 0, otherwise the right (bottom) border's when that one moves.
#ifndef KESTRIN_UI_RESIZE_LAYOUT_H_
#define KESTRIN_UI_RESIZE_LAYOUT_H_

#include <vector>

namespace kestrin {

struct tRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const tRect&) const = default;
};

// Which border the user drags, numbered as the platform's sizing
// notification numbers them.
enum SizingBorder {
  kNoBorder = 0,
  kLeft = 1,
  kRight = 2,
  kTop = 3,
  kTopLeft = 4,
  kTopRight = 5,
  kBottom = 6,
  kBottomLeft = 7,
  kBottomRight = 8,
};

// Control option bits.
inline constexpr int kNoErase = 1;    // left out of the dialog's background erase
inline constexpr int kRepaint = 2;    // repainted, old area included, after a move

struct tControlRecord {
  int id = 0;
  unsigned left_mode : 4 = 0;
  unsigned right_mode : 4 = 0;
  unsigned top_mode : 4 = 0;
  unsigned bottom_mode : 4 = 0;
  unsigned options : 2 = 0;
  tRect rect;    // client coordinates, as registered or as last placed by modes 0 to 2
  tRect placed;  // where the control stands now
  double r1 = -1, r2 = -1, r3 = -1, r4 = -1;
};

// One control to move: its id, its new rectangle and its old one.
struct tPlacement {
  int id;
  tRect rect;
  tRect old_rect;
  bool repaint;
};

class ResizeLayout {
 public:
  // Remembers the client rectangle the dialog starts with.
  void Start(const tRect& client);
  // Registers control `id` standing at `rect` (client coordinates) with its
  // four border modes (0 to 5), its options and its ratios (-1: not given;
  // a ratio that mode 5 needs and that is not given counts as 0). Modes 3
  // and 4 take r1 (r3) from the control's centre. A control registered
  // again replaces its record.
  void AddControl(int id, const tRect& rect, int left_mode, int right_mode, int top_mode,
                  int bottom_mode, int options = 0, double r1 = -1, double r2 = -1,
                  double r3 = -1, double r4 = -1);

  // The client area now measures `client` after the user dragged `border`:
  // returns the controls that move, in registration order, and records
  // their new places. kNoBorder moves nothing and only remembers `client`.
  std::vector<tPlacement> Resize(const tRect& client, int border);

  // The border a drag moved, read from the window's rectangle before and
  // after (screen coordinates): an edge that changed moves.
  static int BorderFromRects(const tRect& before, const tRect& after);

  // The window may not get smaller than `width` by `height`; a direction
  // that may not change keeps that size. Sizes of 0 or less: no limit.
  void SetMinimumSize(int width, int height) { min_width_ = width, min_height_ = height; }
  void AllowSizeChange(bool width, bool height) { width_may_change_ = width, height_may_change_ = height; }
  // The smallest and the largest window size (-1: no largest).
  int min_width() const { return min_width_; }
  int min_height() const { return min_height_; }
  int max_width() const { return width_may_change_ ? -1 : min_width_; }
  int max_height() const { return height_may_change_ ? -1 : min_height_; }
  // `width` and `height` brought within those limits.
  void Constrain(int* width, int* height) const;

  const std::vector<tControlRecord>& records() const { return records_; }
  const tRect& initial_client() const { return initial_; }

 private:
  std::vector<tControlRecord> records_;
  tRect initial_;
  tRect previous_;
  int min_width_ = 32;
  int min_height_ = 32;
  bool width_may_change_ = true;
  bool height_may_change_ = true;
};

}  // namespace kestrin

#endif  // KESTRIN_UI_RESIZE_LAYOUT_H_
