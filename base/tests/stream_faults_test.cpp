// Fault injection into libqvbase's own stream use: every read, write, seek
// and flush that a log and an INI rewrite reach fails in turn (through the
// interposed platform stream functions its calls go through). A log that
// meets a failed write keeps what it wrote before and nothing after; an
// INI rewrite that fails reports it and leaves the file as it was. Its
// allocations come straight from libc and are not injected.
#include "fault_injection.h"
#include "qvbase.h"
#include "temp_dir_test.h"

#include <fstream>
#include <sstream>

namespace {

std::string FileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    uint32_t result = 0; // 0 success, 1 failure
    std::string text;    // the file afterwards
};

class StreamFaults : public TempDirTest {};

TEST_F(StreamFaults, LogKeepsAPrefixOfItsMessages) {
    std::string path = this->path("faults.log");
    auto logMessages = [&] {
        std::remove(path.c_str());
        MLog *log = nullptr;
        MLogOpenS(path.c_str(), &log);
        MLogConfig config{};
        MLogGetConfig(log, &config);
        config.buffered = 0;
        MLogSetConfig(log, &config);
        for (int i = 0; i < 4; ++i)
            MLogS(log, 1, "message %d\n", i);
        Outcome out;
        out.result = log->failed;
        MLogClose(log);
        out.text = FileText(path);
        return out;
    };
    fault::Sweep(logMessages, {1}, [](const Outcome &clean, const Outcome &faulty) {
        EXPECT_EQ(0u, clean.text.find(faulty.text)) << faulty.text;
        EXPECT_EQ(faulty.result == 0, faulty.text == clean.text);
    });
}

TEST_F(StreamFaults, FailedIniRewriteLeavesTheFile) {
    std::string path = this->path("faults.ini");
    const std::string original = "; kept\r\n[camera]\r\nmode=2\r\nname=front\r\n";
    auto rewrite = [&] {
        std::ofstream(path, std::ios::binary) << original;
        char value[] = "back";
        MIniItem item{"camera", "name", value, MINI_TYPE_STRING, sizeof value};
        Outcome out;
        out.result = MIniWriteSingleS(path.c_str(), &item) == 1 ? 0 : 1;
        out.text = FileText(path);
        return out;
    };
    fault::Sweep(rewrite, {1}, [&](const Outcome &clean, const Outcome &faulty) {
        EXPECT_EQ(faulty.result == 0 ? clean.text : original, faulty.text);
    });
}

} // namespace
