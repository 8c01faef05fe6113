// vantrelo-decode: decodes one subject image for the program, which starts it for every read
// (host/app/decode_process.cpp).  FreeImage crashes on some damaged files and loops for ever on
// others; here that ends this process only, and the program reports the file as damaged.
//
//   vantrelo-decode <program's process id> decode <format> <flags> <path>
//   vantrelo-decode <program's process id> pages <format> <path>
//
// The outcome goes into the shared memory open at descriptor 3, the promised size of the pixels
// onto the pipe at descriptor 4, and the exit status says whether the outcome is there
// (host/app/decoded_image.h).

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "host/app/decoded_image.h"
#include "host/app/image_io_support.h"

namespace {

using namespace Mav::Host::App::ImageIo;

bool number(const char* text, long long lowest, long long highest, long long& value) {
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || parsed < lowest || parsed > highest)
        return false;
    value = parsed;
    return true;
}

[[noreturn]] void finish(int code) {
    // No exit handlers: FreeImage's clean-up is of no use now, and in the checked build the leak
    // check would turn FreeImage's own leaks on damaged files into a failure of a finished decode.
    std::fflush(nullptr);
    ::_exit(code);
}

// A decoder left running once the program has gone would hold a processor for ever on a file
// that hangs FreeImage.  The kernel kills this process when the thread that started it ends;
// that thread waits for it, so it ends only with the program.  The program may have ended
// before the request took hold: then this process was handed to another parent already.
void endWithTheProgram(const char* programId) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    long long program = 0;
    if (!number(programId, 1, 0x7fffffff, program) || ::getppid() != program)
        finish(kRefusedRequest);
}

std::uint64_t physicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * size : UINT64_MAX;
}

// Refuses a picture larger than the machine's memory before FreeImage tries to allocate it, then
// tells the program how large the pixels will be, which sets its time limit.
void beforePixels(std::uint64_t promised) {
    if (promised > physicalMemory()) finish(kNoMemory);
    for (std::size_t done = 0; done < sizeof promised;) {
        const ssize_t written = ::write(kPromiseDescriptor,
                                        reinterpret_cast<const char*>(&promised) + done,
                                        sizeof promised - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += static_cast<std::size_t>(written);
    }
    ::close(kPromiseDescriptor);
}

}  // namespace

int main(int argc, char** argv) {
    endWithTheProgram(argc > 1 ? argv[1] : "");
    // A decoder that crashes on a damaged file leaves no core file behind.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // Past a file size limit the program was started under, the block's write fails and says
    // so instead of this signal killing the process as if the file had crashed it.
    ::signal(SIGXFSZ, SIG_IGN);

    const std::string mode = argc > 2 ? argv[2] : "";
    long long format = 0;
    long long flags = 0;
    const auto takenFormat = [&](const char* text) {
        return number(text, 0, 0x7fffffff, format) &&
               isSubjectFormat(static_cast<FREE_IMAGE_FORMAT>(format));
    };
    try {
        Decoded decoded;
        int pages = -1;
        if (mode == "decode" && argc == 6 && takenFormat(argv[3]) &&
            number(argv[4], 0, 0x7fffffff, flags))
            decoded = decodeHere(argv[5], static_cast<FREE_IMAGE_FORMAT>(format),
                                 static_cast<int>(flags), beforePixels);
        else if (mode == "pages" && argc == 5 && takenFormat(argv[3]))
            pages = pageCountHere(argv[4], static_cast<FREE_IMAGE_FORMAT>(format));
        else
            finish(kRefusedRequest);
        if (!storeDecoded(kResultDescriptor, decoded, pages))
            finish(errno == ENOMEM || errno == ENOSPC ? kNoMemory : kCannotAnswer);
        // The answer is complete: closing the outputs lets the program take it while this
        // process's exit frees the decoded picture.
        std::fflush(nullptr);
        ::close(1);
        ::close(2);
        finish(kAnswered);
    } catch (const std::bad_alloc&) {
        finish(kNoMemory);
    }
}
