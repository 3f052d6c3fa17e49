#include "common/jpg_tables.h"

extern "C" {

const int32_t jpg_layer_tbl[kJpgPixelFormatCount] = {
    2, 2, 2, 2, 2, 3, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 0, 2, 4, 5, 2, 2,
};

const int32_t jpg_yuv_tbl[kJpgPixelFormatCount] = {
    4, 0, 1, 2, 3, 6, 6, 1, 1, 1, 1, 2, 2, 2, 2, 3, 6, 6, 5, 6, 6, 0, 0,
};

const uint8_t jpg_yccrun_tbl[3 * kJpgPixelFormatCount] = {
    1, 1, 1, /* 0 grey */          1, 1, 1, /* 1 planar 4:2:0 */
    1, 1, 1, /* 2 planar 4:2:2 */  1, 1, 1, /* 3 planar 4:4:0 */
    1, 1, 1, /* 4 planar 4:4:4 */  1, 1, 1, /* 5 planar RGB */
    8, 8, 8, /* 6 coefficients */  2, 4, 4, /* 7 Y0 Cb Y1 Cr */
    2, 4, 4, /* 8 Cb Y0 Cr Y1 */   2, 4, 4, /* 9 Y0 Cr Y1 Cb */
    2, 4, 4, /* 10 Cr Y0 Cb Y1 */  2, 2, 2, /* 11 rows Y/Cb, Y/Cr */
    2, 2, 2, /* 12 rows Y/Cr, Y/Cb */ 2, 2, 2, /* 13 rows Cb/Y, Cr/Y */
    2, 2, 2, /* 14 rows Cr/Y, Cb/Y */ 3, 3, 3, /* 15 packed Y Cb Cr */
    1, 1, 1, /* 16 packed RGB */   8, 8, 8, /* 17 decoder blocks */
    1, 1, 1, /* 18 frame sampling */ 1, 1, 1, /* 19 reserved */
    1, 1, 1, /* 20 reserved */     1, 2, 2, /* 21 semi-planar 4:2:0 */
    1, 2, 2, /* 22 semi-planar 4:2:0 */
};

const int32_t jpg_mcumode_tbl[9] = {
    kJpgEdgeWhole,    kJpgEdgeClipColumns, kJpgEdgeNothing,
    kJpgEdgeClipRows, kJpgEdgeClipBoth,    kJpgEdgeNothing,
    kJpgEdgeNothing,  kJpgEdgeNothing,     kJpgEdgeNothing,
};

const int32_t jpg_yccsubsample_tbl[5] = {3, 2, 1, 0, 4};

const int32_t jpg_yuvsample_tbl[9] = {6, 6, 6, 6, 3, 1, 6, 2, 0};

const uint8_t jpg_valbits_tbl[32] = {
    0, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4,
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
};

const uint8_t jpg_natural_order[80] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63,
};

} // extern "C"
