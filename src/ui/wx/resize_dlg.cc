#include "ui/wx/resize_dlg.h"

#include <wx/bitmap.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/settings.h>

namespace kestrin {

namespace {

tRect ToRect(const wxRect& r) { return {r.x, r.y, r.x + r.width, r.y + r.height}; }

// The grip's picture: three diagonal rows of dots, as drawn in the corner
// of a resizable window.
wxBitmap GripBitmap(int size) {
  wxBitmap bitmap(size, size, 32);
  bitmap.UseAlpha();
  wxMemoryDC dc(bitmap);
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_3DFACE)));
  dc.Clear();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_3DSHADOW)));
  const int step = size / 4;
  for (int row = 1; row <= 3; ++row) {
    for (int i = 0; i < row; ++i) {
      dc.DrawRectangle(size - step * (i + 1), size - step * (row - i), 2, 2);
    }
  }
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

}  // namespace

CResizeDlg::CResizeDlg(wxWindow* parent, const wxString& title, const wxSize& client_size)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  SetClientSize(ConvertDialogToPixels(client_size));
  Bind(wxEVT_SIZE, &CResizeDlg::OnSize, this);
}

CResizeDlg::~CResizeDlg() { EndDrag(); }

tRect CResizeDlg::ClientRect() const {
  const wxSize size = GetClientSize();
  return {0, 0, size.x, size.y};
}

void CResizeDlg::InitResize() {
  layout_.Start(ClientRect());
  const int grip = FromDIP(14);
  const wxSize client = GetClientSize();
  grip_ = new wxWindow(this, kSizeGripId, wxPoint(client.x - grip, client.y - grip),
                       wxSize(grip, grip), wxBORDER_NONE);
  grip_->Bind(wxEVT_PAINT, [this, picture = GripBitmap(grip)](wxPaintEvent&) {
    wxPaintDC dc(grip_);
    dc.DrawBitmap(picture, 0, 0, true);
  });
  grip_->SetCursor(wxCursor(wxCURSOR_SIZENWSE));
  grip_->Raise();
  AddControl(kSizeGripId, 2, 2, 2, 2);
  grip_->Bind(wxEVT_LEFT_DOWN, &CResizeDlg::OnGripDown, this);
  grip_->Bind(wxEVT_MOTION, &CResizeDlg::OnGripMotion, this);
  grip_->Bind(wxEVT_LEFT_UP, &CResizeDlg::OnGripUp, this);
  grip_->Bind(wxEVT_MOUSE_CAPTURE_LOST, &CResizeDlg::OnGripLost, this);

  const wxSize window = GetSize();
  layout_.SetMinimumSize(window.x, window.y);
  layout_.AllowSizeChange(true, height_may_change_);
  SetMinSize(window);
  SetMaxSize(wxSize(layout_.max_width(), layout_.max_height()));
  window_rect_ = ToRect(GetScreenRect());
}

void CResizeDlg::AddControl(int id, int left_mode, int right_mode, int top_mode, int bottom_mode,
                            int options, double r1, double r2, double r3, double r4) {
  wxWindow* control = FindWindow(id);
  if (control == nullptr) return;
  layout_.AddControl(id, ToRect(control->GetRect()), left_mode, right_mode, top_mode,
                     bottom_mode, options, r1, r2, r3, r4);
}

void CResizeDlg::OnSize(wxSizeEvent& event) {
  event.Skip();
  if (layout_.records().empty()) return;
  const tRect now = ToRect(GetScreenRect());
  Apply(ResizeLayout::BorderFromRects(window_rect_, now));
  window_rect_ = now;
}

void CResizeDlg::Apply(int border) {
  for (const tPlacement& move : layout_.Resize(ClientRect(), border)) {
    wxWindow* control = FindWindow(move.id);
    if (control == nullptr) continue;
    if (move.repaint) control->Refresh();
    control->SetSize(move.rect.left, move.rect.top, move.rect.width(), move.rect.height());
    if (move.repaint) {
      RefreshRect(wxRect(move.old_rect.left, move.old_rect.top, move.old_rect.width(),
                         move.old_rect.height()));
    }
  }
}

void CResizeDlg::OnGripDown(wxMouseEvent& event) {
  dragging_ = true;
  drag_start_ = grip_->ClientToScreen(event.GetPosition());
  drag_size_ = GetSize();
  if (!grip_->HasCapture()) grip_->CaptureMouse();
}

void CResizeDlg::OnGripMotion(wxMouseEvent& event) {
  if (!dragging_) return;
  if (!event.LeftIsDown()) {
    EndDrag();
    return;
  }
  // The pointer as it is now: the grip moves with the border, so a queued
  // event's position relative to it is stale.
  const wxPoint at = wxGetMousePosition();
  int width = drag_size_.x + at.x - drag_start_.x;
  int height = drag_size_.y + at.y - drag_start_.y;
  layout_.Constrain(&width, &height);
  SetSize(width, height);
}

void CResizeDlg::OnGripUp(wxMouseEvent&) { EndDrag(); }

void CResizeDlg::OnGripLost(wxMouseCaptureLostEvent&) { dragging_ = false; }

void CResizeDlg::EndDrag() {
  dragging_ = false;
  if (grip_ != nullptr && grip_->HasCapture()) grip_->ReleaseMouse();
}

}  // namespace kestrin
