#pragma once
// Fixture files as bytes, encoded by FreeImage itself.  FreeImage's EXR writer leaks a little on
// every save (204 bytes, inside the library), so fixtures are encoded in a child process that
// hands the bytes back through a pipe: the sanitizer's leak check then sees only the memory of
// the code under test.

#include <FreeImage.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "tests/host/app/image_io_test_support.h"

namespace ImageIoTest {

inline std::vector<std::uint8_t> encodedBytes(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format,
                                              int flags = 0) {
    int ends[2];
    if (::pipe(ends) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        FIMEMORY* memory = FreeImage_OpenMemory();
        BYTE* data = nullptr;
        DWORD size = 0;
        if (FreeImage_SaveToMemory(format, bitmap, memory, flags))
            FreeImage_AcquireMemory(memory, &data, &size);
        for (DWORD done = 0; done < size;) {
            const ssize_t written = ::write(ends[1], data + done, size - done);
            if (written <= 0) ::_exit(1);
            done += static_cast<DWORD>(written);
        }
        ::_exit(0);
    }
    ::close(ends[1]);
    std::vector<std::uint8_t> bytes;
    unsigned char chunk[65536];
    for (ssize_t got; (got = ::read(ends[0], chunk, sizeof chunk)) != 0;) {
        if (got < 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    ::close(ends[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return {};
    return bytes;
}

// An EXR cut inside its header, 195 bytes long: OpenEXR's header reader never returns.
inline std::vector<std::uint8_t> loopingExr() {
    std::vector<std::uint8_t> exr = encodedBytes(makePattern(FIT_RGBF, 23, 17, 96).get(), FIF_EXR);
    exr.resize(195);
    return exr;
}

}  // namespace ImageIoTest
