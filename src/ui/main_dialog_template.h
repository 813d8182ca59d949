/* The main dialog's template: its resource id, its size in dialog units and
   the ids of its controls. Plain preprocessor definitions, so that the
   Windows resource script reads them as well as the C++ code. */
#ifndef KESTRIN_UI_MAIN_DIALOG_TEMPLATE_H_
#define KESTRIN_UI_MAIN_DIALOG_TEMPLATE_H_

#define KESTRIN_IDD_MAIN 101
#define KESTRIN_DIALOG_WIDTH 320
#define KESTRIN_DIALOG_HEIGHT 319

#define KESTRIN_IDC_EXIT 2
#define KESTRIN_IDC_SIZE_GRIP 50
#define KESTRIN_IDC_PROGRESS 1000
#define KESTRIN_IDC_INFO_LIST 1001
#define KESTRIN_IDC_DIRECTORY 1002
#define KESTRIN_IDC_BROWSE 1003
#define KESTRIN_IDC_INSTALL 1004
#define KESTRIN_IDC_BUNDLE_LIST 1006
#define KESTRIN_IDC_DIRECTORY_LABEL 1008
#define KESTRIN_IDC_AVAILABLE_LABEL 1009
#define KESTRIN_IDC_INFO_LABEL 1010
#define KESTRIN_IDC_SHOW_DETAILS 1012

#endif  /* KESTRIN_UI_MAIN_DIALOG_TEMPLATE_H_ */
