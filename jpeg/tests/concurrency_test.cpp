// Many decoders and encoders at once: each handle stays on one thread, all
// share the platform context and its log, and every output equals the one
// the same job gives on its own. Run under ThreadSanitizer in CI.
#include "decoder_harness.h"
#include "enc_oracle.h"
#include "jpeg_oracle.h"
#include "memory_stream.h"
#include "qvbase.h"
#include "sample_oracle.h"
#include "temp_dir_test.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace {

// One job: an image decoded or encoded, its output as bytes.
using Job = std::function<std::vector<uint8_t>()>;

std::vector<uint8_t> Flatten(const harness::Decoded &decoded) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(decoded.result != 0)};
    for (const oracle::Plane &plane : decoded.planes)
        bytes.insert(bytes.end(), plane.samples.begin(), plane.samples.end());
    return bytes;
}

Job DecodeJob(bool progressive, int restartInterval, int denominator) {
    oracle::EncodeOptions options;
    options.width = 56;
    options.height = 40;
    options.progressive = progressive;
    options.restartInterval = restartInterval;
    std::vector<uint8_t> jpeg = oracle::Encode(options);
    return [jpeg, denominator] {
        MLogS(nullptr, 1, "decode %zu bytes at 1/%d\n", jpeg.size(), denominator);
        return Flatten(harness::DecodeImage(jpeg, denominator, 8));
    };
}

// Coefficients onto a platform memory stream.
Job CoefficientJob(uint32_t samplingMode, uint32_t seed) {
    enc_test::CoefImage image = enc_test::RandomCoefficients(samplingMode, 48, 32, seed);
    return [image, samplingMode] {
        MemoryStream stream;
        vltJpgEncCreateInfo info{};
        info.stream = stream.get();
        info.width = 48;
        info.height = 32;
        info.pixelFormat = VLTJPG_PIXEL_COEFFICIENTS;
        info.samplingMode = samplingMode;
        MLogS(nullptr, 2, "encode coefficients, sampling %u\n", samplingMode);
        if (enc_test::EncodeOnce(info, image, enc_test::EncodeOptions{}) != 0)
            return std::vector<uint8_t>();
        return stream.Contents();
    };
}

Job SampleJob(uint32_t quality) {
    sample_test::Planes planes = sample_test::PhotoPlanes(48, 32, 0, quality);
    return [planes, quality] {
        sample_test::HostImage image = sample_test::PlanarImage(planes, VLTJPG_PIXEL_YUV420);
        sample_test::EncodeSettings settings;
        settings.quality = quality;
        settings.bandLines = 16;
        MLogS(nullptr, 2, "encode samples at quality %u\n", quality);
        return sample_test::Encode(settings, 48, 32, image.planes, image.pitches);
    };
}

class Concurrency : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (HasFatalFailure())
            return;
        logPath_ = path("shared.log");
        MPlatInitParams params{};
        params.logMask = 0xFFFFFFFFu;
        params.logPath = logPath_.c_str();
        ASSERT_EQ(MPLAT_OK, MPlatInitialize(&params));
    }
    void TearDown() override {
        MPlatUninitialize();
        TempDirTest::TearDown();
    }
    std::string logPath_;
};

TEST_F(Concurrency, ManyHandlesOnManyThreadsGiveTheSingleThreadedOutputs) {
    const std::vector<Job> jobs = {
        DecodeJob(false, 0, 1), DecodeJob(false, 2, 2), DecodeJob(true, 0, 1),
        DecodeJob(true, 0, 4),  CoefficientJob(0, 1),   CoefficientJob(4, 2),
        SampleJob(60),          SampleJob(90),
    };
    std::vector<std::vector<uint8_t>> expected;
    for (const Job &job : jobs) {
        expected.push_back(job());
        ASSERT_GT(expected.back().size(), 1u);
    }
    constexpr int kThreads = 4;
    constexpr int kRounds = 3;
    std::vector<std::vector<std::vector<uint8_t>>> outputs(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (size_t j = 0; j < jobs.size(); ++j)
                    outputs[t].push_back(jobs[(j + t) % jobs.size()]());
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(outputs[t].size(), kRounds * jobs.size());
        for (size_t i = 0; i < outputs[t].size(); ++i)
            EXPECT_EQ(expected[(i + t) % jobs.size()], outputs[t][i]) << "thread " << t;
    }
    MPlatUninitialize(); // writes the log out
    EXPECT_GT(std::filesystem::file_size(logPath_), 0u);
}

} // namespace
