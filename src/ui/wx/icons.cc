#include "ui/wx/icons.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>

#include <memory>
#include <utility>

#include "ui/icon_shapes.h"

namespace kestrin {

namespace {

// A cabinet: a box with a lid and a label, in `body` colour.
wxBitmap DrawBox(int size, const wxColour& body, const wxColour& lid) {
  wxImage image(size, size);
  image.InitAlpha();
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) image.SetAlpha(x, y, 0);
  }
  wxBitmap bitmap(image, 32);
  {
    wxMemoryDC dc(bitmap);
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
    if (gc) {
      const double s = size;
      gc->SetPen(wxPen(body.ChangeLightness(60), std::max(1, size / 16)));
      for (const auto& [shape, brush] : {std::pair{icon::kBody, wxBrush(body)},
                                         std::pair{icon::kLid, wxBrush(lid)},
                                         std::pair{icon::kLabel, wxBrush(*wxWHITE)}}) {
        gc->SetBrush(brush);
        gc->DrawRectangle(s * shape.x, s * shape.y, s * shape.width, s * shape.height);
      }
    }
  }
  return bitmap;
}

wxColour Colour(const icon::tColour& c) { return wxColour(c.red, c.green, c.blue); }

}  // namespace

wxIcon ProgramIcon(int size) {
  wxIcon picture;
  picture.CopyFromBitmap(DrawBox(size, Colour(icon::kProgramBody), Colour(icon::kProgramLid)));
  return picture;
}

wxBitmap BundleBitmap(int size) {
  return DrawBox(size, Colour(icon::kBundleBody), Colour(icon::kBundleLid));
}

}  // namespace kestrin
