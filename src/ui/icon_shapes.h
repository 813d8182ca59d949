// The shapes and colours of the program's pictures, the same for every
// toolkit that draws them: a cabinet box with a lid and a label, in
// fractions of the picture's size.
#ifndef KESTRIN_UI_ICON_SHAPES_H_
#define KESTRIN_UI_ICON_SHAPES_H_

namespace kestrin::icon {

struct tShape {
  double x, y, width, height;  // fractions of the picture's size
};
struct tColour {
  unsigned char red, green, blue;
};

inline constexpr tShape kBody = {0.12, 0.32, 0.76, 0.56};
inline constexpr tShape kLid = {0.06, 0.16, 0.88, 0.18};
inline constexpr tShape kLabel = {0.36, 0.46, 0.28, 0.14};

// The window icon and the bundle icon of the bundle list.
inline constexpr tColour kProgramBody = {46, 110, 180};
inline constexpr tColour kProgramLid = {240, 170, 40};
inline constexpr tColour kBundleBody = {170, 120, 60};
inline constexpr tColour kBundleLid = {120, 80, 40};

}  // namespace kestrin::icon

#endif  // KESTRIN_UI_ICON_SHAPES_H_
