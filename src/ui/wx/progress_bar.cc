#include "ui/wx/progress_bar.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

#include <algorithm>

namespace kestrin {

ProgressBar::ProgressBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &ProgressBar::OnPaint, this);
}

void ProgressBar::SetRange(int range) {
  range_ = std::max(1, range);
  value_ = std::min(value_, range_);
  Refresh();
}

void ProgressBar::SetValue(int value) {
  value_ = std::clamp(value, 0, range_);
  Refresh();
}

void ProgressBar::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxRect all = GetClientRect();
  dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_3DSHADOW)));
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
  dc.DrawRectangle(all);
  const wxRect inside = wxRect(all).Deflate(2);
  const int filled = static_cast<int>(static_cast<long long>(inside.width) * value_ / range_);
  if (filled <= 0) return;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)));
  dc.DrawRectangle(inside.x, inside.y, filled, inside.height);
}

}  // namespace kestrin
