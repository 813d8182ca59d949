// The program's pictures drawn into 32-bit bitmaps with an alpha channel,
// so that no icon files have to be found next to the program.
#include <cmath>
#include <cstdint>
#include <vector>

#include "ui/icon_shapes.h"
#include "ui/win32/main_dialog.h"

namespace kestrin {

namespace {

// Pixels as 0xAARRGGBB, top row first.
class Canvas {
 public:
  explicit Canvas(int size) : size_(size), pixels_(static_cast<size_t>(size) * size, 0) {}

  // Fills `shape` with `fill` and draws its outline with `line`.
  void Box(const icon::tShape& shape, std::uint32_t fill, std::uint32_t line) {
    const int left = static_cast<int>(std::lround(shape.x * size_));
    const int top = static_cast<int>(std::lround(shape.y * size_));
    const int right = static_cast<int>(std::lround((shape.x + shape.width) * size_));
    const int bottom = static_cast<int>(std::lround((shape.y + shape.height) * size_));
    const int pen = size_ >= 32 ? 2 : 1;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        const bool edge = x < left + pen || x >= right - pen || y < top + pen || y >= bottom - pen;
        Set(x, y, edge ? line : fill);
      }
    }
  }

  HICON ToIcon() const {
    BITMAPV5HEADER header = {};
    header.bV5Size = sizeof header;
    header.bV5Width = size_;
    header.bV5Height = -size_;  // top row first
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                      &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (colour == nullptr) return nullptr;
    std::copy(pixels_.begin(), pixels_.end(), static_cast<std::uint32_t*>(bits));
    // The mask: set (transparent) where the picture has no alpha.
    const int stride = ((size_ + 15) / 16) * 2;
    std::vector<unsigned char> mask_bits(static_cast<size_t>(stride) * size_, 0);
    for (int y = 0; y < size_; ++y) {
      for (int x = 0; x < size_; ++x) {
        if ((pixels_[static_cast<size_t>(y) * size_ + x] >> 24) == 0)
          mask_bits[static_cast<size_t>(y) * stride + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      }
    }
    HBITMAP mask = CreateBitmap(size_, size_, 1, 1, mask_bits.data());
    ICONINFO info = {};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON picture = mask != nullptr ? CreateIconIndirect(&info) : nullptr;
    DeleteObject(colour);
    if (mask != nullptr) DeleteObject(mask);
    return picture;
  }

 private:
  void Set(int x, int y, std::uint32_t argb) {
    if (x < 0 || y < 0 || x >= size_ || y >= size_) return;
    pixels_[static_cast<size_t>(y) * size_ + x] = argb;
  }

  int size_;
  std::vector<std::uint32_t> pixels_;
};

std::uint32_t Argb(const icon::tColour& c, double lightness = 1.0) {
  auto channel = [lightness](unsigned char v) {
    return static_cast<std::uint32_t>(std::lround(v * lightness)) & 0xFF;
  };
  return 0xFF000000u | channel(c.red) << 16 | channel(c.green) << 8 | channel(c.blue);
}

HICON DrawBox(int size, const icon::tColour& body, const icon::tColour& lid) {
  if (size <= 0) size = 32;
  Canvas canvas(size);
  const std::uint32_t line = Argb(body, 0.6);
  canvas.Box(icon::kBody, Argb(body), line);
  canvas.Box(icon::kLid, Argb(lid), line);
  canvas.Box(icon::kLabel, 0xFFFFFFFFu, line);
  return canvas.ToIcon();
}

}  // namespace

HICON DrawProgramIcon(int size) { return DrawBox(size, icon::kProgramBody, icon::kProgramLid); }

HICON DrawBundleIcon(int size) { return DrawBox(size, icon::kBundleBody, icon::kBundleLid); }

}  // namespace kestrin
