#include "jpeg_structure.h"

#include <algorithm>

namespace tool {
namespace {

constexpr int kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kDqt = 0xDB, kDri = 0xDD;

bool isFrameMarker(int marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
           marker != 0xCC;
}

class Reader {
public:
    explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    bool has(size_t count) const { return pos_ + count <= bytes_.size(); }
    int byte() { return bytes_[pos_++]; }
    int word() {
        const int high = byte();
        return (high << 8) | byte();
    }
    size_t pos() const { return pos_; }
    void seek(size_t pos) { pos_ = std::min(pos, bytes_.size()); }
    // Moves past entropy-coded data to the next marker that is not a
    // restart or a stuffed zero; false when the data ends first.
    bool skipEntropyData() {
        for (; pos_ + 1 < bytes_.size(); ++pos_) {
            const int next = bytes_[pos_ + 1];
            if (bytes_[pos_] == 0xFF && next != 0 && next != 0xFF && (next < 0xD0 || next > 0xD7))
                return true;
        }
        pos_ = bytes_.size();
        return false;
    }

private:
    const std::vector<uint8_t> &bytes_;
    size_t pos_ = 0;
};

void readFrame(Reader &segment, JpegStructure &out) {
    out.precision = segment.byte();
    out.height = segment.word();
    out.width = segment.word();
    const int count = segment.byte();
    for (int i = 0; i < count && segment.has(3); ++i) {
        FrameComponent component;
        component.id = segment.byte();
        const int factors = segment.byte();
        component.h = std::max(1, factors >> 4);
        component.v = std::max(1, factors & 15);
        component.quantTable = segment.byte();
        out.components.push_back(component);
    }
}

void readQuantTables(Reader &segment, size_t end, JpegStructure &out) {
    while (segment.pos() < end && segment.has(1)) {
        QuantTable table;
        const int info = segment.byte();
        table.id = info & 15;
        table.precision = (info >> 4) ? 16 : 8;
        const size_t need = table.precision == 16 ? 128 : 64;
        if (!segment.has(need)) return;
        for (uint16_t &value : table.values)
            value = static_cast<uint16_t>(table.precision == 16 ? segment.word() : segment.byte());
        out.quantTables.push_back(table);
    }
}

void readScan(Reader &segment, JpegStructure &out) {
    ScanHeader scan;
    const int count = segment.byte();
    for (int i = 0; i < count && segment.has(2); ++i) {
        scan.componentIds.push_back(segment.byte());
        segment.byte();  // table selectors
    }
    if (segment.has(3)) {
        scan.spectralStart = segment.byte();
        scan.spectralEnd = segment.byte();
        const int approx = segment.byte();
        scan.approxHigh = approx >> 4;
        scan.approxLow = approx & 15;
    }
    out.scans.push_back(scan);
}

}  // namespace

int JpegStructure::maxH() const {
    int most = 1;
    for (const FrameComponent &c : components) most = std::max(most, c.h);
    return most;
}

int JpegStructure::maxV() const {
    int most = 1;
    for (const FrameComponent &c : components) most = std::max(most, c.v);
    return most;
}

std::string JpegStructure::process() const {
    if (frameMarker < 0) return "unknown";
    const int kind = frameMarker & 3;  // 0 sequential, 1 extended, 2 progressive, 3 lossless
    const bool arithmetic = frameMarker >= 0xC9;
    const bool hierarchical = (frameMarker & 4) != 0;
    std::string name = kind == 3 ? "lossless" : kind == 2 ? "progressive"
                      : (frameMarker == 0xC0 ? "baseline" : "extended");
    if (kind < 2 && scans.size() > 1) name += " multi-scan";
    if (hierarchical) name = "hierarchical " + name;
    if (arithmetic) name = "arithmetic-coded " + name;
    return name;
}

std::string JpegStructure::refusal() const {
    if (!startFound) return "not a JPEG file";
    if (frameMarker < 0) return "no image frame in the file";
    if (frameMarker >= 0xC9) return "arithmetic-coded JPEG is not supported";
    if ((frameMarker & 3) == 3) return "lossless JPEG is not supported";
    if (frameMarker & 4) return "hierarchical JPEG is not supported";
    if (precision != 8) return std::to_string(precision) + "-bit samples are not supported";
    if (components.size() != 1 && components.size() != 3)
        return std::to_string(components.size()) + "-component JPEG is not supported";
    return "";
}

JpegStructure readJpegStructure(const std::vector<uint8_t> &bytes) {
    JpegStructure out;
    Reader reader(bytes);
    if (!reader.has(2) || reader.byte() != 0xFF || reader.byte() != kSoi) return out;
    out.startFound = true;
    while (reader.has(2)) {
        if (reader.byte() != 0xFF) continue;  // stray byte between segments
        int marker = reader.byte();
        while (marker == 0xFF && reader.has(1)) marker = reader.byte();
        if (marker == kEoi) {
            out.endFound = true;
            break;
        }
        if (marker == 0 || (marker >= 0xD0 && marker <= 0xD7) || !reader.has(2)) continue;
        const size_t start = reader.pos();
        const size_t end = start + static_cast<size_t>(reader.word());
        if (end > bytes.size()) break;
        if (isFrameMarker(marker) && out.frameMarker < 0) {
            out.frameMarker = marker;
            readFrame(reader, out);
        } else if (marker == kDqt) {
            readQuantTables(reader, end, out);
        } else if (marker == kDri && reader.has(2)) {
            out.restartInterval = reader.word();
        } else if (marker == kSos) {
            readScan(reader, out);
        }
        reader.seek(end);
        if (marker == kSos && !reader.skipEntropyData()) break;
    }
    return out;
}

}  // namespace tool
