// CResizeDlg: a dialog whose controls follow its borders. Controls are
// registered by id with a mode per border (ui/resize_layout.h); when the
// size changes, the borders that moved are found from the window's old and
// new rectangle and the controls are placed by the layout. The dialog
// cannot get smaller than it started; a size grip in the bottom-right corner
// resizes it by dragging. The grip is a window of its own that holds the
// pointer only while its button is down: a release anywhere, a motion
// without the button (the release went elsewhere) or a lost capture ends
// the drag, with or without a window manager.
//
// The toolkit clips a dialog's children when it paints the dialog, so the
// kNoErase option needs no work here; kRepaint repaints a moved control and
// the place it left.
#ifndef KESTRIN_UI_WX_RESIZE_DLG_H_
#define KESTRIN_UI_WX_RESIZE_DLG_H_

#include <wx/dialog.h>

#include "ui/resize_layout.h"

namespace kestrin {

inline constexpr int kSizeGripId = 50;

class CResizeDlg : public wxDialog {
 public:
  CResizeDlg(wxWindow* parent, const wxString& title, const wxSize& client_size);
  ~CResizeDlg() override;

  // Registers control `id` at its current place (see ResizeLayout).
  void AddControl(int id, int left_mode, int right_mode, int top_mode, int bottom_mode,
                  int options = 0, double r1 = -1, double r2 = -1, double r3 = -1,
                  double r4 = -1);

  const ResizeLayout& layout() const { return layout_; }

 protected:
  // Takes the client area as the initial one, creates the size grip and
  // fixes the minimum size. Call once the controls exist, before AddControl.
  void InitResize();

  // The dialog's height stays as it started; its width may grow.
  bool height_may_change_ = false;

 private:
  void OnSize(wxSizeEvent& event);
  void OnGripDown(wxMouseEvent& event);
  void OnGripMotion(wxMouseEvent& event);
  void OnGripUp(wxMouseEvent& event);
  void OnGripLost(wxMouseCaptureLostEvent& event);
  void EndDrag();
  void Apply(int border);
  tRect ClientRect() const;

  ResizeLayout layout_;
  tRect window_rect_;   // screen rectangle at the last placement
  wxWindow* grip_ = nullptr;
  bool dragging_ = false;
  wxPoint drag_start_;  // screen position of the mouse when the drag began
  wxSize drag_size_;    // window size when the drag began
};

}  // namespace kestrin

#endif  // KESTRIN_UI_WX_RESIZE_DLG_H_
