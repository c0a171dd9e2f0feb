/* The updater dialog's template in dialog units: its size, its font and where each control
   sits (x, y, width, height). The resource script, the wxWidgets window and the GUI tests all
   read this file, so it holds "#define NAME number" lines only. */
#pragma once

#define DLG_WIDTH 215
#define DLG_HEIGHT 78
#define DLG_FONT_POINTS 8

#define DLG_EXIT_X 117
#define DLG_EXIT_Y 58
#define DLG_EXIT_W 93
#define DLG_EXIT_H 16

#define DLG_START_UPDATE_X 4
#define DLG_START_UPDATE_Y 58
#define DLG_START_UPDATE_W 92
#define DLG_START_UPDATE_H 16

#define DLG_PROGRESS_X 4
#define DLG_PROGRESS_Y 26
#define DLG_PROGRESS_W 206
#define DLG_PROGRESS_H 14

#define DLG_STATUS_X 4
#define DLG_STATUS_Y 42
#define DLG_STATUS_W 206
#define DLG_STATUS_H 12

#define DLG_CONNECT_DOTS_X 100
#define DLG_CONNECT_DOTS_Y 63
#define DLG_CONNECT_DOTS_W 11
#define DLG_CONNECT_DOTS_H 8

#define DLG_CHECK_VERSION_X 5
#define DLG_CHECK_VERSION_Y 58
#define DLG_CHECK_VERSION_W 59
#define DLG_CHECK_VERSION_H 16

#define DLG_VENDOR_LABEL_X 7
#define DLG_VENDOR_LABEL_Y 7
#define DLG_VENDOR_LABEL_W 34
#define DLG_VENDOR_LABEL_H 8

#define DLG_PRODUCT_LABEL_X 112
#define DLG_PRODUCT_LABEL_Y 7
#define DLG_PRODUCT_LABEL_W 35
#define DLG_PRODUCT_LABEL_H 8

#define DLG_VENDOR_ID_X 47
#define DLG_VENDOR_ID_Y 4
#define DLG_VENDOR_ID_W 40
#define DLG_VENDOR_ID_H 14

#define DLG_PRODUCT_ID_X 153
#define DLG_PRODUCT_ID_Y 4
#define DLG_PRODUCT_ID_W 40
#define DLG_PRODUCT_ID_H 14
