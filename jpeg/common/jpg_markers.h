// JPEG marker codes (the byte after 0xFF), shared by the marker parser, the
// decode loop, the marker writer and the bit writer.
#ifndef QVJPEG_COMMON_JPG_MARKERS_H
#define QVJPEG_COMMON_JPG_MARKERS_H

#include <cstdint>

enum JpgMarker : uint8_t {
    kJpgMarkerTem = 0x01,
    kJpgMarkerSof0 = 0xC0, // baseline
    kJpgMarkerSof1 = 0xC1, // extended sequential, Huffman
    kJpgMarkerSof2 = 0xC2, // progressive, Huffman
    kJpgMarkerDht = 0xC4,
    kJpgMarkerDac = 0xCC,
    kJpgMarkerRst0 = 0xD0,
    kJpgMarkerRst7 = 0xD7,
    kJpgMarkerSoi = 0xD8,
    kJpgMarkerEoi = 0xD9,
    kJpgMarkerSos = 0xDA,
    kJpgMarkerDqt = 0xDB,
    kJpgMarkerDnl = 0xDC,
    kJpgMarkerDri = 0xDD,
    kJpgMarkerApp0 = 0xE0,
    kJpgMarkerApp15 = 0xEF,
    kJpgMarkerCom = 0xFE,
};

constexpr bool JpgIsRestartMarker(uint32_t code) {
    return code >= kJpgMarkerRst0 && code <= kJpgMarkerRst7;
}

#endif
