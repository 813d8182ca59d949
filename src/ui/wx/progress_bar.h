// The progress bar of the main dialog, drawn in the whole rectangle the
// dialog template gives it: a framed trough filled from the left in the
// selection colour. (GTK's own progress bar keeps the thin height of its
// theme, whatever place it is given.)
#ifndef KESTRIN_UI_WX_PROGRESS_BAR_H_
#define KESTRIN_UI_WX_PROGRESS_BAR_H_

#include <wx/window.h>

namespace kestrin {

class ProgressBar : public wxWindow {
 public:
  ProgressBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

  // The bar is full at `range` (at least 1); the value is kept within it.
  void SetRange(int range);
  void SetValue(int value);
  int GetRange() const { return range_; }
  int GetValue() const { return value_; }

 private:
  void OnPaint(wxPaintEvent& event);

  int range_ = 100;
  int value_ = 0;
};

}  // namespace kestrin

#endif  // KESTRIN_UI_WX_PROGRESS_BAR_H_
