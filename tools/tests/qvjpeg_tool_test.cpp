// End-to-end tests of the qvjpeg command: every subcommand on pictures made
// at test time, checked against libjpeg-turbo's cjpeg and djpeg.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "image_file.h"
#include "temp_dir_test.h"
#include "test_chart.h"

namespace {

using tool::Image;
using tool::psnr;

// Each test works in a fresh scratch folder holding the chart.
class ToolTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        writeImage(path("chart.ppm"), tool::makeTestChart(171, 103));
    }

    // Runs a shell command in the scratch folder; its exit code. Standard
    // error is kept in errors().
    int shell(const std::string &command) const {
        const int status = std::system(("cd " + root_ + " && " + command + " 2>stderr.txt").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int qvjpeg(const std::string &arguments) const {
        return shell(std::string(QVJPEG_TOOL) + " " + arguments);
    }
    std::string errors() const {
        std::ifstream in(path("stderr.txt"));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    Image read(const std::string &name) const { return tool::readImage(path(name)); }

};

Image crop(const Image &image, int x, int y, int width, int height) {
    Image out(width, height, image.channels);
    for (int row = 0; row < height; ++row)
        std::copy(image.row(y + row) + x * image.channels,
                  image.row(y + row) + (x + width) * image.channels, out.row(row));
    return out;
}

struct Variant {
    const char *cjpegOptions;
    const char *output;  // .ppm or .pgm
};

// Decoding (whole, by region, in stripes) of the layouts cjpeg makes.
TEST_F(ToolTest, DecodesLikeDjpegAndRegionsAndStripesMatchTheWholeDecode) {
    const Variant variants[] = {{"-quality 90", "ppm"},        {"-sample 1x1", "ppm"},
                                {"-sample 2x1 -restart 2", "ppm"}, {"-sample 1x2", "ppm"},
                                {"-progressive", "ppm"},       {"-grayscale", "pgm"}};
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.cjpegOptions);
        const std::string out = std::string("full.") + v.output;
        ASSERT_EQ(shell(std::string("cjpeg ") + v.cjpegOptions + " chart.ppm > in.jpg"), 0);
        ASSERT_EQ(shell("djpeg -dct int in.jpg > oracle." + std::string(v.output)), 0);
        ASSERT_EQ(qvjpeg("decode in.jpg " + out), 0) << errors();
        const Image full = read(out);
        EXPECT_GE(psnr(full, read(std::string("oracle.") + v.output)), 40.0);

        ASSERT_EQ(qvjpeg("decode --threads 3 in.jpg threads." + std::string(v.output)), 0) << errors();
        EXPECT_EQ(read(std::string("threads.") + v.output).pixels, full.pixels);
        const int regions[][4] = {{0, 0, 171, 103}, {37, 21, 50, 33}, {150, 90, 21, 13}};
        for (const auto &r : regions) {
            const std::string region = std::to_string(r[0]) + "," + std::to_string(r[1]) + "," +
                                       std::to_string(r[2]) + "," + std::to_string(r[3]);
            ASSERT_EQ(qvjpeg("decode --region " + region + " in.jpg region.png"), 0) << errors();
            EXPECT_EQ(read("region.png").pixels, crop(full, r[0], r[1], r[2], r[3]).pixels) << region;
        }
    }
}

TEST_F(ToolTest, ScaledDecodesHaveTheScaledSize) {
    ASSERT_EQ(shell("cjpeg chart.ppm > in.jpg"), 0);
    for (int scale : {2, 4, 8}) {
        ASSERT_EQ(qvjpeg("decode --scale " + std::to_string(scale) + " in.jpg s.ppm"), 0) << errors();
        const Image image = read("s.ppm");
        EXPECT_EQ(image.width, (171 + scale - 1) / scale);
        EXPECT_EQ(image.height, (103 + scale - 1) / scale);
        const int x = image.width / 4, y = image.height / 4, w = image.width / 2, h = image.height / 2;
        ASSERT_EQ(qvjpeg("decode --scale " + std::to_string(scale) + " --region " + std::to_string(x) +
                         "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h) +
                         " in.jpg r.ppm"), 0) << errors();
        EXPECT_EQ(read("r.ppm").pixels, crop(image, x, y, w, h).pixels);
    }
}

TEST_F(ToolTest, EncodesWhatDjpegDecodesAndHighQualityMatchesCjpeg) {
    const Image source = read("chart.ppm");
    const std::pair<const char *, const char *> samplings[] = {
        {"420", "2x2"}, {"422", "2x1"}, {"440", "1x2"}, {"444", "1x1"}};
    for (const auto &[ours, theirs] : samplings) {
        ASSERT_EQ(qvjpeg(std::string("encode --restart 3 --sampling ") + ours + " chart.ppm out.jpg"), 0)
            << errors();
        ASSERT_EQ(shell(std::string("cjpeg -sample ") + theirs + " chart.ppm > ref.jpg && djpeg -dct int "
                        "out.jpg > out.ppm && djpeg -dct int ref.jpg > ref.ppm"), 0);
        EXPECT_GE(psnr(read("out.ppm"), source), psnr(read("ref.ppm"), source) - 1.0) << ours;
    }
    ASSERT_EQ(qvjpeg("encode --hq --no-stamp chart.ppm hq.jpg"), 0) << errors();
    ASSERT_EQ(shell("cjpeg -quality 85 -dct int chart.ppm > ref.jpg && djpeg -dct int hq.jpg > hq.ppm"
                    " && djpeg -dct int ref.jpg > ref.ppm"), 0);
    EXPECT_NEAR(psnr(read("hq.ppm"), source), psnr(read("ref.ppm"), source), 0.5);
    std::ifstream ours(path("hq.jpg"), std::ios::ate), theirs(path("ref.jpg"), std::ios::ate);
    EXPECT_NEAR(double(ours.tellg()) / double(theirs.tellg()), 1.0, 0.05);
}

TEST_F(ToolTest, PlanesRoundTripWithThumbnailAndIndex) {
    ASSERT_EQ(shell("cjpeg -sample 2x1 chart.ppm > in.jpg"), 0);
    ASSERT_EQ(qvjpeg("decode in.jpg planes.yuv"), 0) << errors();
    ASSERT_EQ(qvjpeg("encode --size 171x103 --sampling 422 --thumbnail 4 thumb.png --index out.idx "
                     "planes.yuv out.jpg"), 0) << errors();
    EXPECT_EQ(read("thumb.png").width, 176 / 4);  // whole MCUs, reduced
    ASSERT_EQ(qvjpeg("decode out.jpg full.ppm"), 0);
    ASSERT_EQ(qvjpeg("decode --index out.idx --region 60,40,50,30 out.jpg region.ppm"), 0) << errors();
    EXPECT_EQ(read("region.ppm").pixels, crop(read("full.ppm"), 60, 40, 50, 30).pixels);
    ASSERT_EQ(shell("djpeg out.jpg > oracle.ppm"), 0);
}

TEST_F(ToolTest, TranscodingKeepsThePixelsAndIndexFilesServeRegions) {
    ASSERT_EQ(shell("cjpeg -optimize chart.ppm > in.jpg && djpeg in.jpg > in.ppm"), 0);
    ASSERT_EQ(qvjpeg("transcode --restart 4 in.jpg out.jpg"), 0) << errors();
    ASSERT_EQ(shell("djpeg out.jpg | cmp -s - in.ppm"), 0);
    ASSERT_EQ(qvjpeg("transcode --quality 50 in.jpg low.jpg"), 0) << errors();
    ASSERT_EQ(shell("djpeg low.jpg > low.ppm"), 0);
    EXPECT_GE(psnr(read("low.ppm"), read("in.ppm")), 25.0);
    EXPECT_EQ(shell("test $(stat -c %s low.jpg) -lt $(stat -c %s in.jpg)"), 0);

    ASSERT_EQ(qvjpeg("index --interval 2 in.jpg in.idx"), 0) << errors();
    ASSERT_EQ(qvjpeg("decode in.jpg full.ppm && " QVJPEG_TOOL " decode --index in.idx --region 90,9,40,40 in.jpg r.ppm"), 0);
    EXPECT_EQ(read("r.ppm").pixels, crop(read("full.ppm"), 90, 9, 40, 40).pixels);
    ASSERT_EQ(qvjpeg("info in.jpg > info.txt"), 0);
    EXPECT_EQ(shell("grep -q '171x103, 3 components, sampling 2x2 1x1 1x1, baseline' info.txt"), 0);
    ASSERT_EQ(qvjpeg("info --json in.jpg > info.json"), 0);
    EXPECT_EQ(shell("grep -q '\"width\":171,\"height\":103' info.json"), 0);
}

struct Misuse {
    const char *arguments;
    int exitCode;
    const char *message;
};

TEST_F(ToolTest, BadArgumentsAndBadFilesGiveExitCodesAndMessages) {
    ASSERT_EQ(shell("cjpeg chart.ppm > ok.jpg && cjpeg -arithmetic chart.ppm > arith.jpg && "
                    "cjpeg -progressive chart.ppm > prog.jpg && head -c 900 ok.jpg > cut.jpg && "
                    "head -c 100 ok.jpg > header.jpg"), 0);
    const Misuse cases[] = {
        {"", 2, "usage"},
        {"frobnicate x", 2, "unknown command"},
        {"decode ok.jpg", 2, "expected 2 file names"},
        {"decode --scale 3 ok.jpg o.ppm", 2, "--scale"},
        {"decode --bogus ok.jpg o.ppm", 2, "unknown option --bogus"},
        {"decode --region 1,2,3 ok.jpg o.ppm", 2, "--region"},
        {"decode --region 100,100,100,100 ok.jpg o.ppm", 2, "outside"},
        {"decode ok.jpg o.gif", 2, "unknown output type"},
        {"decode ok.jpg o.pgm", 2, "cannot write a colour picture as .pgm"},
        {"encode --quality 0 chart.ppm o.jpg", 2, "--quality"},
        {"encode --sampling 411 chart.ppm o.jpg", 2, "--sampling"},
        {"encode planes.yuv o.jpg", 2, "--size"},
        {"decode missing.jpg o.ppm", 1, "missing.jpg: cannot open"},
        {"decode arith.jpg o.ppm", 1, "arith.jpg: arithmetic-coded JPEG is not supported"},
        {"decode chart.ppm o.ppm", 1, "chart.ppm: not a JPEG file"},
        {"decode cut.jpg o.ppm", 1, "cut.jpg: cut short after "},
        {"decode header.jpg o.ppm", 1, "header.jpg:"},
        {"decode ok.jpg /nonexistent/o.ppm", 1, "/nonexistent/o.ppm: cannot open for writing"},
        {"encode chart.ppm /nonexistent/o.jpg", 1, "/nonexistent/o.jpg: cannot open for writing"},
        {"encode chart.ppm /dev/full", 1, "/dev/full: "},
        {"transcode ok.jpg /dev/full", 1, "/dev/full: "},
        {"encode --sampling gray chart.ppm o.jpg", 2, "--sampling gray needs a grey picture"},
        {"encode ok.jpg o.jpg", 2, "unknown picture type"},
        {"transcode prog.jpg o.jpg", 1, "prog.jpg: a progressive"},
        {"transcode cut.jpg o.jpg", 1, "cut.jpg: cut short"},
        {"index arith.jpg o.idx", 1, "arith.jpg: arithmetic"},
        {"decode --index chart.ppm --region 0,0,8,8 ok.jpg o.ppm", 1, "chart.ppm: not an index"},
    };
    for (const Misuse &m : cases) {
        EXPECT_EQ(qvjpeg(m.arguments), m.exitCode) << m.arguments;
        EXPECT_NE(errors().find(m.message), std::string::npos) << m.arguments << ": " << errors();
    }
    EXPECT_EQ(qvjpeg("decode --help > /dev/null"), 0);
}

TEST_F(ToolTest, DemoRunsEveryStepAndItsRegionIsCutFromTheWholeDecode) {
    ASSERT_EQ(qvjpeg("demo out > table.txt"), 0) << errors();
    std::ifstream table(path("table.txt"));
    int rows = 0;
    for (std::string line; std::getline(table, line);) rows += line.find(".jpg") != std::string::npos;
    EXPECT_EQ(rows, 7);  // five encodings and two transcodings, each with its PSNR
    const Image whole = read("out/scale_1.png");
    EXPECT_EQ(read("out/threads.png").pixels, whole.pixels);
    EXPECT_EQ(read("out/region.png").pixels, crop(whole, 400, 300, 300, 200).pixels);
    EXPECT_EQ(read("out/scale_8.png").width, 1024 / 8);
}

}  // namespace
