#include "ui/icons.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>

#include <memory>

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
      gc->SetBrush(wxBrush(body));
      gc->DrawRectangle(s * 0.12, s * 0.32, s * 0.76, s * 0.56);
      gc->SetBrush(wxBrush(lid));
      gc->DrawRectangle(s * 0.06, s * 0.16, s * 0.88, s * 0.18);
      gc->SetBrush(wxBrush(*wxWHITE));
      gc->DrawRectangle(s * 0.36, s * 0.46, s * 0.28, s * 0.14);
    }
  }
  return bitmap;
}

}  // namespace

wxIcon ProgramIcon(int size) {
  wxIcon icon;
  icon.CopyFromBitmap(DrawBox(size, wxColour(46, 110, 180), wxColour(240, 170, 40)));
  return icon;
}

wxBitmap BundleBitmap(int size) {
  return DrawBox(size, wxColour(170, 120, 60), wxColour(120, 80, 40));
}

}  // namespace kestrin
