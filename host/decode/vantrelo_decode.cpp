// vantrelo-decode: decodes one subject image for the program, which starts it for every read
// (host/app/decode_process.cpp).  FreeImage crashes on some damaged files and loops for ever on
// others; here that ends this process only, and the program reports the file as damaged.
//
//   vantrelo-decode decode <format> <flags> <path>
//   vantrelo-decode pages <format> <path>
//
// The outcome goes into the shared memory open at descriptor 3 (host/app/decoded_image.h).  Exit
// codes: 0 the outcome is written (a file FreeImage refused is an outcome too), 2 a malformed
// request, 3 no memory for the outcome.

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "host/app/decoded_image.h"
#include "host/app/image_io_support.h"

namespace {

constexpr int kResultDescriptor = 3;

bool number(const char* text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < -1 || parsed > 0x7fffffff) return false;
    value = static_cast<int>(parsed);
    return true;
}

[[noreturn]] void finish(int code) {
    // No exit handlers: FreeImage's clean-up is of no use now, and in the checked build the leak
    // check would turn FreeImage's own leaks on damaged files into a failure of a finished decode.
    std::fflush(nullptr);
    ::_exit(code);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace Mav::Host::App::ImageIo;
    // A decoder that crashes on a damaged file leaves no core file behind.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);

    const std::string mode = argc > 1 ? argv[1] : "";
    int format = 0;
    int flags = 0;
    try {
        Decoded decoded;
        int pages = -1;
        if (mode == "decode" && argc == 5 && number(argv[2], format) && number(argv[3], flags))
            decoded = decodeHere(argv[4], static_cast<FREE_IMAGE_FORMAT>(format), flags);
        else if (mode == "pages" && argc == 4 && number(argv[2], format))
            pages = pageCountHere(argv[3], static_cast<FREE_IMAGE_FORMAT>(format));
        else
            finish(2);
        if (!storeDecoded(kResultDescriptor, decoded, pages)) finish(3);
        // The answer is complete: closing the outputs lets the program take it while this
        // process's exit frees the decoded picture.
        std::fflush(nullptr);
        ::close(1);
        ::close(2);
        finish(0);
    } catch (const std::bad_alloc&) {
        finish(3);
    }
}
