// The geometry of the resizable dialog, without a window.
#include "ui/resize_layout.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kestrin {

void PrintTo(const tRect& r, std::ostream* os) {
  *os << "{" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "}";
}

namespace {

const tRect kClient{0, 0, 400, 300};
const tRect kControl{100, 50, 200, 80};

tRect PlaceOnce(ResizeLayout& layout, const tRect& client, int border) {
  auto moves = layout.Resize(client, border);
  if (moves.empty()) return kControl;
  EXPECT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].old_rect, kControl);
  return moves[0].rect;
}

// The dialogs keep their height, so placement is checked across the width.
// Mode 3 centres at (100+200)/2/400 = 0.375 of the width; mode 5 moves by
// the given ratios of the growth.
TEST(ResizeLayoutTest, ModesWhenTheRightBorderIsDragged) {
  const struct {
    int mode;
    double ra, rb;
    tRect wider;  // the right border dragged from 400 to 480
  } cases[] = {{0, -1, -1, kControl},           {1, -1, -1, {100, 50, 280, 80}},
               {2, -1, -1, {180, 50, 280, 80}}, {3, -1, -1, {130, 50, 230, 80}},
               {4, -1, -1, {120, 50, 240, 80}}, {5, 0.5, 0.25, {140, 50, 260, 80}},
               {5, -1, -1, kControl}};
  for (const auto& c : cases) {
    ResizeLayout layout;
    layout.Start(kClient);
    layout.AddControl(7, kControl, c.mode, c.mode, 0, 0, 0, c.ra, c.rb);
    EXPECT_EQ(PlaceOnce(layout, {0, 0, 480, 300}, kRight), c.wider) << "mode " << c.mode;
  }
}

TEST(ResizeLayoutTest, ModeOfTheMovingBorder) {
  // The left and right modes, the border dragged; the width grows from 400 to 440.
  const std::tuple<int, int, int, tRect> cases[] = {
      {1, 2, kLeft, {100, 50, 240, 80}}, {1, 2, kRight, {140, 50, 240, 80}},
      {0, 2, kLeft, kControl},  // a left mode 0 falls to the right one only when the right moves
      {0, 2, kBottomRight, {140, 50, 240, 80}},
      {2, 0, kTopLeft, {140, 50, 240, 80}}, {1, 0, kBottomLeft, {100, 50, 240, 80}},
      {0, 1, kTopRight, {100, 50, 240, 80}}, {1, 1, kTop, kControl}, {1, 1, kNoBorder, kControl},
  };
  for (const auto& [left_mode, right_mode, border, expected] : cases) {
    ResizeLayout layout;
    layout.Start(kClient);
    layout.AddControl(7, kControl, left_mode, right_mode, 0, 0);
    EXPECT_EQ(PlaceOnce(layout, {0, 0, 440, 300}, border), expected)
        << left_mode << right_mode << " border " << border;
  }
}

// Mode 2 follows the change since the last placement.
TEST(ResizeLayoutTest, SuccessiveDrags) {
  ResizeLayout layout;
  layout.Start(kClient);
  layout.AddControl(1, kControl, 2, 2, 0, 0);
  layout.Resize({0, 0, 480, 300}, kLeft);
  layout.Resize({0, 0, 440, 300}, kLeft);
  layout.Resize({0, 0, 520, 300}, kRight);
  EXPECT_EQ(layout.records()[0].placed, (tRect{220, 50, 320, 80}));
  // A size change that is not a drag moves nothing but counts as the last
  // placement.
  EXPECT_TRUE(layout.Resize({0, 0, 600, 300}, kNoBorder).empty());
  layout.Resize({0, 0, 610, 300}, kRight);
  EXPECT_EQ(layout.records()[0].placed, (tRect{230, 50, 330, 80}));
}

TEST(ResizeLayoutTest, BorderFromWindowRectangles) {
  const tRect w{100, 100, 500, 400};
  const std::pair<tRect, int> cases[] = {
      {w, kNoBorder}, {{100, 100, 540, 400}, kRight}, {{60, 100, 500, 400}, kLeft},
      {{100, 80, 500, 400}, kTop}, {{100, 100, 540, 450}, kBottomRight},
      {{60, 80, 500, 400}, kTopLeft},
      {{0, 0, 800, 600}, kBottomRight},   // maximised: both edges moved
      {{140, 100, 540, 400}, kNoBorder},  // moved, not resized
  };
  for (const auto& [after, border] : cases)
    EXPECT_EQ(ResizeLayout::BorderFromRects(w, after), border) << ::testing::PrintToString(after);
}

TEST(ResizeLayoutTest, SizeLimits) {
  ResizeLayout layout;
  layout.SetMinimumSize(640, 680);
  layout.AllowSizeChange(true, false);
  EXPECT_EQ(std::pair(layout.max_width(), layout.max_height()), std::pair(-1, 680));
  // The width and height asked for; what they become.
  const int cases[][4] = {
      {500, 500, 640, 680}, {700, 900, 700, 680}, {640, 680, 640, 680}, {639, 681, 640, 680}};
  for (const auto& c : cases) {
    int width = c[0], height = c[1];
    layout.Constrain(&width, &height);
    EXPECT_EQ(std::pair(width, height), std::pair(c[2], c[3])) << c[0] << "x" << c[1];
  }
}

}  // namespace
}  // namespace kestrin
