// qvjpeg transcode and qvjpeg index: work on a JPEG file's coded blocks
// without decoding it to pixels.
#include "arguments.h"
#include "commands.h"
#include "image_file.h"
#include "jpeg_decode.h"
#include "jpeg_structure.h"
#include "tool_error.h"

namespace tool {
namespace {

// A decoder over `bytes`, with the refusals explained in words. A file cut
// short is refused too: its missing blocks would be coded as if complete.
qvjpeg::Decoder openDecoder(const std::string &name, const std::vector<uint8_t> &bytes,
                            const qvjpeg::Stream &stream, uint32_t indexInterval) {
    const JpegStructure structure = readJpegStructure(bytes);
    const std::string refusal = structure.refusal();
    if (!refusal.empty()) fail(name, refusal);
    if (!structure.endFound) fail(name, describeCut(bytes));
    if (!stream) fail(name, "out of memory");
    qvjpeg::Decoder decoder;
    const qvjpeg::Error error = qvjpeg::Decoder::create(decoder, stream, indexInterval);
    if (error.code() == VLTJPG_ERR_DATA) fail(name, "damaged JPEG header");
    check(error, name, "reading the header");
    uint32_t multiScan = 0;
    decoder.get(VLTJPG_DECPROP_MULTISCAN, multiScan);
    if (multiScan) fail(name, "a progressive or multi-scan JPEG has no random access to its blocks");
    return decoder;
}

qvjpeg::Stream memoryOf(const std::vector<uint8_t> &bytes) {
    return qvjpeg::Stream::overMemory(qvjpeg::Span<const uint8_t>(bytes.data(), bytes.size()));
}

// Re-codes every MCU row: the decoder positions itself (request mode 0) and
// the encoder takes its blocks.
void transcodeRows(const qvjpeg::Decoder &decoder, const qvjpeg::Encoder &encoder,
                   const std::string &name, const std::string &outputName) {
    int grid[2];
    check(decoder.get(VLTJPG_DECPROP_MCU_GRID, grid), name, "reading the MCU grid");
    for (int row = 0; row < grid[1]; ++row) {
        vltJpgDecoderRequest request{VLTJPG_REQUEST_HANDOVER, grid[0], 0, row, nullptr};
        check(decoder.readMcus(request), name, "reading the blocks");
        vltJpgEncWriteDesc descriptor{VLTJPG_WRITE_TRANSCODE, grid[0], 0, static_cast<uint32_t>(row),
                                      request.planeSet};
        const qvjpeg::Error error = encoder.writeMcus(descriptor);
        if (error.code() == VLTJPG_ERR_CATEGORY)
            fail(name, "a requantized coefficient lies outside what baseline JPEG can code");
        if (error.code() == VLTJPG_ERR_SHORT_WRITE) fail(outputName, "writing failed");
        check(error, name, "re-coding the blocks");
    }
}

}  // namespace

int runTranscode(const Args &args) {
    const Arguments arguments(args, {{"restart", 1}, {"quality", 1}});
    const std::vector<std::string> &files = arguments.positional(2);
    const std::vector<uint8_t> bytes = readFileBytes(files[0]);
    const qvjpeg::Stream input = memoryOf(bytes);
    const qvjpeg::Decoder decoder = openDecoder(files[0], bytes, input, 0);
    OutputGuard guard(files[1]);  // declared first: removes the file after it is closed
    qvjpeg::Stream output = qvjpeg::Stream::openFile(files[1].c_str(), MSTREAM_MODE_WRITE);
    if (!output) fail(files[1], "cannot open for writing");
    {
        qvjpeg::Encoder encoder;
        // Huffman mode 0: the standard tables, which code every baseline value.
        check(qvjpeg::Encoder::fromDecoder(encoder, decoder, output, 0), files[0], "starting the transcoder");
        if (arguments.has("restart"))
            check(encoder.set(VLTJPG_ENCPROP_RESTART, static_cast<uint32_t>(arguments.integer("restart", 0, 0, 65535))),
                  files[1], "setting the restart interval");
        if (arguments.has("quality"))
            check(encoder.set(VLTJPG_ENCPROP_QUALITY, static_cast<uint32_t>(arguments.integer("quality", 85, 1, 100))),
                  files[1], "setting the quality");
        transcodeRows(decoder, encoder, files[0], files[1]);
        check(encoder.finish(), files[1], "finishing the file");
    }
    if (!output.flush()) fail(files[1], "writing failed");
    guard.keep();
    return 0;
}

int runIndex(const Args &args) {
    const Arguments arguments(args, {{"interval", 1}});
    const std::vector<std::string> &files = arguments.positional(2);
    const uint32_t interval = static_cast<uint32_t>(arguments.integer("interval", 1, 1, 65535));
    const std::vector<uint8_t> bytes = readFileBytes(files[0]);
    const qvjpeg::Stream input = memoryOf(bytes);
    const qvjpeg::Decoder decoder = openDecoder(files[0], bytes, input, interval);
    check(decoder.buildIndex(), files[0], "building the index");
    qvjpeg::Span<const uint8_t> block;
    check(decoder.index(block), files[0], "reading the index");
    writeFileBytes(files[1], block.data(), block.size());
    return 0;
}

}  // namespace tool
