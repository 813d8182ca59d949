// The program's pictures, drawn at run time so that no image files have to
// be found next to the program: the window icon and the bundle icon of the
// bundle list.
#ifndef KESTRIN_UI_WX_ICONS_H_
#define KESTRIN_UI_WX_ICONS_H_

#include <wx/bitmap.h>
#include <wx/icon.h>

namespace kestrin {

wxIcon ProgramIcon(int size);
wxBitmap BundleBitmap(int size);

}  // namespace kestrin

#endif  // KESTRIN_UI_WX_ICONS_H_
