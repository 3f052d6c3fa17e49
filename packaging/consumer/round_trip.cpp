// Encodes a grey gradient into memory with the installed qvjpeg and decodes
// it again; exits 0 when the pixels come back close to the original.
#include <qvjpeg.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main() {
    constexpr int kWidth = 64, kHeight = 48;
    std::vector<uint8_t> picture(kWidth * kHeight);
    for (int i = 0; i < kWidth * kHeight; ++i) picture[i] = static_cast<uint8_t>(i % kWidth * 4);

    qvjpeg::Stream jpeg = qvjpeg::Stream::growingMemory();
    vltJpgEncCreateInfo info{};
    info.stream = jpeg.get();
    info.width = kWidth;
    info.height = kHeight;
    info.pixelFormat = VLTJPG_PIXEL_GREY;
    info.samplingMode = VLTJPG_SAMPLING_GREY;
    qvjpeg::Encoder encoder;
    qvjpeg::Error error = qvjpeg::Encoder::create(encoder, info);
    qvjpeg::Plane plane{qvjpeg::Span<uint8_t>(picture.data(), picture.size()), kWidth, kWidth, kHeight};
    qvjpeg::PlaneSet planes(qvjpeg::Span<const qvjpeg::Plane>(&plane, 1));
    if (!error) error = encoder.scanlines(planes, 0, kHeight);
    if (!error) error = encoder.finish();

    std::vector<uint8_t> decoded(picture.size());
    qvjpeg::Plane out{qvjpeg::Span<uint8_t>(decoded.data(), decoded.size()), kWidth, kWidth, kHeight};
    qvjpeg::PlaneSet outPlanes(qvjpeg::Span<const qvjpeg::Plane>(&out, 1));
    qvjpeg::Decoder decoder;
    if (!error && !jpeg.seek(MSTREAM_SEEK_BEGIN, 0)) error = VLTJPG_ERR_DATA;
    if (!error) error = qvjpeg::Decoder::create(decoder, jpeg);
    int32_t lines = kHeight;
    if (!error) error = decoder.scanlines(outPlanes, lines);
    if (error) {
        std::fprintf(stderr, "round trip failed: %s\n", error.message());
        return 1;
    }
    int worst = 0;
    for (size_t i = 0; i < picture.size(); ++i) worst = std::max(worst, std::abs(picture[i] - decoded[i]));
    std::printf("%d bytes of JPEG; largest pixel difference %d\n", jpeg.size(), worst);
    return worst <= 8 ? 0 : 1;
}
