// The decoding helper as a process: every way it reports failure reaches the user as its own
// reason, it ends when the program ends, and its time limits follow the header: a header that
// never finishes is given up within the header's limit, and a large picture is given as long as
// its size asks for.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/host/app/image_fixture_bytes.h"
#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
using Mav::Host::App::ReadOptions;
using Mav::Host::App::readSubjectImage;
using Mav::Host::App::ImageIo::decode;
using Mav::Host::App::ImageIo::Decoded;
using Mav::Host::App::ImageIo::DecodeTimes;
using std::chrono::milliseconds;

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBig(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// A PNG whose header (with a correct checksum) promises width x height pixels of its own depth.
std::vector<std::uint8_t> pngPromising(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> png =
        encodedBytes(makePattern(FIT_BITMAP, 23, 17, 24).get(), FIF_PNG);
    // Signature (8), then the IHDR chunk: length (4), type (4), width and height at 16 and 20.
    putBig(png, 16, width);
    putBig(png, 20, height);
    putBig(png, 29, crc32(png.data() + 12, 17));
    return png;
}

// The soft file size limit of this process (which the helper inherits) while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        const rlimit lower{bytes, saved_.rlim_max};
        set_ = ::setrlimit(RLIMIT_FSIZE, &lower) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    bool set() const { return set_; }

private:
    rlimit saved_{};
    bool set_ = false;
};

TEST(DecodeProcess, EachFailureTheDecoderReportsReachesTheUserAsItsOwnReason) {
    TempFolder folder;
    const std::string huge = folder.file("huge.png");
    // 999,999 x 999,999 (under the PNG library's own limit on a side) of 3 bytes: 3 TB.
    writeBytes(huge, pngPromising(999'999, 999'999));
    const std::string plain = folder.file("plain.png");
    writeBytes(plain, encodedBytes(makePattern(FIT_BITMAP, 96, 64, 24).get(), FIF_PNG));
    struct Case {
        const char* name;
        std::string path;
        FREE_IMAGE_FORMAT format;
        rlim_t fileSizeLimit;  // 0: none
        const char* reason;
    };
    const Case cases[] = {
        {"a header promising more than the machine's memory", huge, FIF_PNG, 0,
         "there is not enough memory to decode it"},
        {"a type the decoder does not take", plain, FIF_PCX, 0,
         "the image decoder does not take its type"},
        // The answer of 96 x 64 pixels is larger than the limit, its header is not.
        {"an answer it cannot write", plain, FIF_PNG, 4096,
         "the image decoder cannot hand over the decoded picture"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::vector<std::uint8_t> before = fileBytes(k.path);
        Decoded decoded;
        ImageBuffer buffer(nullptr);
        Mav::Host::App::ReadResult read;
        {
            const FileSizeLimit limit(k.fileSizeLimit ? k.fileSizeLimit : RLIM_INFINITY);
            ASSERT_TRUE(k.fileSizeLimit == 0 || limit.set());
            decoded = decode(k.path, k.format, 0);
            if (k.format == FIF_PNG) read = readSubjectImage(buffer, k.path, ReadOptions{});
        }
        EXPECT_EQ(decoded.problem, k.reason);
        EXPECT_FALSE(decoded.bitmap);
        if (k.format == FIF_PNG) {
            EXPECT_FALSE(read.ok);
            EXPECT_EQ(read.message, "Cannot read \"" + k.path + "\": " + k.reason + ".");
            EXPECT_FALSE(buffer.firstPixel);
        }
        EXPECT_EQ(fileBytes(k.path), before);
    }
    EXPECT_EQ(folder.names().size(), 2u);
}

// A helper process's state letter and parent, from /proc; false when the process is gone or is
// not a helper.
bool helperState(const std::string& pid, char& state, long& parent) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    // pid (name) state parent ...
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && line.find("(vantrelo-decode)") != std::string::npos &&
           std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2;
}

// Running, not a zombie left for a parent that does not reap it.
bool running(pid_t pid) {
    char state = 0;
    long parent = 0;
    return helperState(std::to_string(pid), state, parent) && state != 'Z' && state != 'X';
}

std::vector<pid_t> helpersOf(pid_t program) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        char state = 0;
        long parent = 0;
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            helperState(name, state, parent) && parent == program && state != 'Z')
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

template <class Condition>
bool within(milliseconds time, Condition condition) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

TEST(DecodeProcess, KillingTheProgramDuringADecodeThatNeverEndsLeavesNoDecoder) {
    TempFolder folder;
    const std::string path = folder.file("header.exr");
    writeBytes(path, loopingExr());
    // The program: it would wait a minute for the decoder.
    const pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        Mav::Host::App::ImageIo::setDecodeTimes(
            {.header = milliseconds(60'000), .base = milliseconds(60'000)});
        decode(path, FIF_EXR, 0);
        ::_exit(0);
    }
    std::vector<pid_t> helpers;
    const bool started = within(milliseconds(5000), [&] {
        helpers = helpersOf(program);
        return !helpers.empty();
    });
    ::kill(program, SIGKILL);
    ::waitpid(program, nullptr, 0);
    ASSERT_TRUE(started);
    const bool ended = within(milliseconds(2000), [&] {
        for (const pid_t helper : helpers)
            if (running(helper)) return false;
        return true;
    });
    EXPECT_TRUE(ended) << "the decoder outlived the program";
    for (const pid_t helper : helpers)
        if (running(helper)) ::kill(helper, SIGKILL);
}

TEST(DecodeProcess, AHeaderThatNeverEndsIsGivenUpWithinTheHeaderLimit) {
    TempFolder folder;
    const std::string path = folder.file("header.exr");
    writeBytes(path, loopingExr());
    const auto start = std::chrono::steady_clock::now();
    const Decoded decoded = decode(path, FIF_EXR, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(decoded.problem,
              "the file is damaged or incomplete (decoding it took longer than 2 seconds)");
    EXPECT_LT(took, std::chrono::seconds(4));
}

TEST(DecodeProcess, ThePixelsTimeLimitFollowsThePictureSizeTheHeaderPromises) {
    TempFolder folder;
    // 1200 x 800 16-bit pixels, 5.5 MiB: a base of a millisecond is far too short for them, an
    // allowance of two seconds a MiB is far more than they need even on a machine loaded many
    // times over.
    const int width = 1200, height = 800;
    const Bitmap picture = makePattern(FIT_RGB16, width, height, 48);
    const std::string path = folder.file("large.tif");
    ASSERT_TRUE(saveFixture(picture.get(), FIF_TIFF, path, TIFF_NONE));
    struct Case {
        milliseconds perMebibyte;
        bool whole;
    };
    for (const Case& k : {Case{milliseconds(2000), true}, Case{milliseconds(0), false}}) {
        SCOPED_TRACE(k.perMebibyte.count());
        const ScopedDecodeTimes times({.header = milliseconds(10'000),
                                       .base = milliseconds(1),
                                       .perMebibyte = k.perMebibyte});
        const Decoded decoded = decode(path, FIF_TIFF, 0);
        if (!k.whole) {
            EXPECT_NE(decoded.problem.find("decoding it took longer than"), std::string::npos)
                << decoded.problem;
            continue;
        }
        ASSERT_TRUE(decoded.bitmap) << decoded.problem;
        EXPECT_EQ(decoded.problem, "");
        ASSERT_EQ(FreeImage_GetWidth(decoded.bitmap.get()), static_cast<unsigned>(width));
        ASSERT_EQ(FreeImage_GetHeight(decoded.bitmap.get()), static_cast<unsigned>(height));
        bool same = true;
        for (int y = 0; y < height && same; ++y)
            same = std::memcmp(FreeImage_GetScanLine(decoded.bitmap.get(), y),
                               FreeImage_GetScanLine(picture.get(), y),
                               static_cast<std::size_t>(width) * 6) == 0;
        EXPECT_TRUE(same) << "the picture is not whole";
    }
}

}  // namespace
