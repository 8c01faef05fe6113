// The toolkit's log around subject-image reads and writes.  The program registers every toolkit
// image handler at start-up (Host::initInputs), and the toolkit's TIFF handler takes over the
// TIFF library's message callbacks, which FreeImage shares: without care every TIFF FreeImage
// reads puts 58 "Internal error, unknown tag" records into the toolkit's log (174 for a read and
// a correct write back), which the program shows in a modal window.  A correct read and write
// must leave the log empty, and a failed write is told through the write's own message.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/image.h>
#include <wx/log.h>

#include <csignal>

#include "tests/host/app/image_io_test_support.h"
#include "tests/support/gui_support.h"

namespace {

using namespace ImageIoTest;

class RecordingLog : public wxLog {
public:
    std::vector<std::string> records;

protected:
    void DoLogRecord(wxLogLevel, const wxString& message, const wxLogRecordInfo&) override {
        records.push_back(message.utf8_string());
    }
};

// Installs a recording log target for the test and puts the previous one back.
class LogCapture {
public:
    LogCapture() : log_(new RecordingLog), previous_(wxLog::SetActiveTarget(log_)) {}
    ~LogCapture() { delete wxLog::SetActiveTarget(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string>& records() {
        wxLog::FlushActive();
        return log_->records;
    }

private:
    RecordingLog* log_;
    wxLog* previous_;
};

void invert(ImageBuffer& buffer) {
    auto* channels = reinterpret_cast<std::uint16_t*>(buffer.firstPixel);
    const std::size_t count = static_cast<std::size_t>(buffer.bounds.width()) *
                              static_cast<std::size_t>(buffer.bounds.height()) * 4;
    for (std::size_t i = 0; i < count; ++i)
        if (i % 4 != 3) channels[i] = static_cast<std::uint16_t>(65535 - channels[i]);
}

TEST(SubjectImageWriteLog, ACorrectTiffReadAndWriteLeaveTheToolkitLogEmptyAndAFailureIsToldByTheWrite) {
    VANTRELO_REQUIRE_TOOLKIT();
    {
        // As the program registers them at start-up.
        wxLogNull quiet;
        wxInitAllImageHandlers();
    }
    ASSERT_NE(wxImage::FindHandler(wxBITMAP_TYPE_TIFF), nullptr);
    TempFolder folder;
    const std::string path = folder.file("deep.tif");
    {
        wxLogNull quiet;  // the fixture is written by FreeImage itself, outside the program
        // Large enough that its write passes the 4 KiB limit below.
        Bitmap fixture = makePattern(FIT_RGB16, 301, 203, 48);
        setTextTag(fixture.get(), FIMD_XMP, "XMLPacket",
                   "<x:xmpmeta xmlns:x='adobe:ns:meta/'>Ørsted</x:xmpmeta>");
        ASSERT_TRUE(saveFixture(fixture.get(), FIF_TIFF, path, TIFF_LZW));
    }
    LogCapture capture;
    TestHost host;
    host.inputs = {path};
    ImageBuffer result(&host);
    std::string error;
    ASSERT_TRUE(result.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
    ASSERT_EQ(result.bitsPerChannel, 16);
    invert(result);
    ASSERT_TRUE(result.saveResult(&error)) << error;
    EXPECT_TRUE(capture.records().empty())
        << capture.records().size() << " records, the first: " << capture.records().front();
    ImageBuffer reread(&host);
    ASSERT_TRUE(reread.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
    EXPECT_EQ(std::memcmp(reread.firstPixel, result.firstPixel,
                          static_cast<std::size_t>(result.rowBytes * result.bounds.height())),
              0);
    {
        wxLogNull quiet;
        const Bitmap written = loadPlain(path, FIF_LOAD_NOPIXELS);
        EXPECT_NE(textTag(written.get(), FIMD_XMP, "XMLPacket").find("Ørsted"), std::string::npos)
            << "the old file's metadata is kept";
    }
    EXPECT_TRUE(capture.records().empty());

    // A write that fails part way (the file may not grow past 4 KiB) is told by the write's
    // message, and the log stays empty.  Run in a child, whose limit ends with it.
    const std::vector<std::uint8_t> before = fileBytes(path);
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) ::_exit(3);
        std::string message;
        const bool written = result.saveResult(&message);
        const bool told = message.find("\"" + path + "\"") != std::string::npos;
        ::_exit(written ? 1 : !told ? 2 : !capture.records().empty() ? 4 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: the write claimed success, 2: its message does not name the file, 4: it logged";
    EXPECT_EQ(fileBytes(path), before);
}

}  // namespace
