// Decoding subject images in the helper program vantrelo-decode (host/decode/): started with
// posix_spawn for every decode, handed a memfd at descriptor 3 that it fills with the outcome
// (host/app/decoded_image.h) and a pipe at descriptor 4 on which it tells the size of the pixels
// before it decodes them, and killed when it runs past its time limit (DecodeTimes): the
// header's until it has told the size, then one that follows the size.  A crash or the time
// limit makes the file damaged, and each failure the helper reports has its own reason; the
// program goes on.  The helper ends itself when the program ends.
//
// Cost, measured by bench/bench_decode.cpp (Release, 8 cores) on a 24-Mpixel 16-bit TIFF: in
// the program 490 ms (LZW) and 140 ms (uncompressed), through the helper 590 and 245 ms.  The
// difference is mostly the 144 MB of pixels in shared memory, which comes in 4 KiB pages only:
// the helper's write of them takes 50 ms and their release after the reader's copy 20 ms; the
// start of the helper takes 5 ms.  Huge pages for the helper's own blocks halved its faults at
// best, but on machines that hand freed memory back to their host every other decode paid more
// than they saved.  Reserving the shared memory while the helper decodes halves its write, but
// would commit whatever a damaged file's header promises before the decoder has checked it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "host/app/decoded_image.h"
#include "host/app/image_io_support.h"
#include "host/system/shell_folders.h"

extern char** environ;

namespace Mav::Host::App::ImageIo {

namespace {

std::mutex g_timesMutex;
DecodeTimes g_times;

DecodeTimes currentTimes() {
    const std::lock_guard<std::mutex> lock(g_timesMutex);
    return g_times;
}

// The pixels' limit, held to a day: the header's numbers are the file's, whatever they are.
std::chrono::milliseconds pixelLimit(const DecodeTimes& times, std::uint64_t promised) {
    const double mebibytes = static_cast<double>(promised) / (1 << 20);
    const double limit = static_cast<double>(times.base.count()) +
                         static_cast<double>(times.perMebibyte.count()) * mebibytes;
    return std::chrono::milliseconds(
        static_cast<long long>(std::clamp(limit, 0.0, 86'400'000.0)));
}

// Beside the running program, where an installed program keeps it; otherwise where the build
// put it, which is where the program and the tests of a build tree find it.
const std::string& helperPath() {
    static const std::string path = [] {
        const std::string folder = System::programFolder();
        const std::string beside = folder + "vantrelo-decode";
        if (!folder.empty() && ::access(beside.c_str(), X_OK) == 0) return beside;
        return std::string(VANTRELO_DECODE_HELPER);
    }();
    return path;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

struct Outcome {
    enum Kind { Finished, Crashed, Failed, TimedOut, NotStarted } kind = NotStarted;
    int code = 0;                     // exit code, signal or errno
    std::chrono::milliseconds limit{};  // the limit in force when the time ran out
};

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

// Runs the helper with `arguments`, the result block at descriptor 3 and the promise pipe at
// descriptor 4.  Its standard output and error (a sanitizer's report of the decoder's fault, in
// the checked build) are read and dropped.  The helper closes them once its answer is complete
// (or ends, which closes them too); `meanwhile` then runs while the helper's exit frees its
// memory, which for a large picture takes as long as mapping the answer.  Its work counts only
// when the outcome is Finished.
Outcome runHelper(const std::vector<std::string>& arguments, int result, const DecodeTimes& times,
                  const std::function<void()>& meanwhile) {
    Outcome outcome;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        outcome.code = errno;
        return outcome;
    }
    Descriptor output(pipeEnds[0]);
    Descriptor input(pipeEnds[1]);
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        outcome.code = errno;
        return outcome;
    }
    Descriptor promises(pipeEnds[0]);
    Descriptor promiseInput(pipeEnds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, input.get(), 1);
    ::posix_spawn_file_actions_adddup2(&actions, input.get(), 2);
    ::posix_spawn_file_actions_adddup2(&actions, result, kResultDescriptor);
    ::posix_spawn_file_actions_adddup2(&actions, promiseInput.get(), kPromiseDescriptor);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors the program opened without close-on-exec stay out of the helper.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, kPromiseDescriptor + 1);
#endif
    // The helper starts with the default signal handling and nothing blocked, whatever the
    // calling thread had.
    sigset_t none, all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned =
        ::posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    input.close();
    promiseInput.close();
    if (spawned != 0) {
        outcome.code = spawned;
        return outcome;
    }

    // The header's limit runs until the helper tells the size of the pixels; theirs then runs.
    outcome.limit = times.header;
    Clock::time_point deadline = Clock::now() + outcome.limit;
    bool ended = false;
    char sink[4096];
    std::uint64_t promised = 0;
    std::size_t promiseBytes = 0;
    while (!ended) {
        pollfd watch[2] = {{output.get(), POLLIN, 0}, {promises.get(), POLLIN, 0}};
        const int ready = ::poll(watch, 2, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;  // the time is up (or poll failed: the helper is not waited for)
        if (watch[1].revents != 0) {
            const ssize_t got =
                ::read(promises.get(), reinterpret_cast<char*>(&promised) + promiseBytes,
                       sizeof promised - promiseBytes);
            if (got > 0) promiseBytes += static_cast<std::size_t>(got);
            if (promiseBytes == sizeof promised) {
                outcome.limit = pixelLimit(times, promised);
                deadline = Clock::now() + outcome.limit;
            }
            if (got == 0 || promiseBytes == sizeof promised ||
                (got < 0 && errno != EINTR && errno != EAGAIN))
                promises.close();  // poll passes over a negative descriptor
        }
        if (watch[0].revents != 0) {
            const ssize_t got = ::read(output.get(), sink, sizeof sink);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) ended = true;
        }
    }

    int status = 0;
    pid_t waited = 0;
    if (ended) {
        meanwhile();
        // The exit follows the closing of its output at once.
        while ((waited = ::waitpid(child, &status, WNOHANG)) == 0 && millisecondsLeft(deadline) > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (waited == 0 || (waited < 0 && errno != ECHILD)) {
        ::kill(child, SIGKILL);
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        outcome.kind = Outcome::TimedOut;
        return outcome;
    }
    if (WIFEXITED(status)) {
        outcome.code = WEXITSTATUS(status);
        outcome.kind = outcome.code == 0 ? Outcome::Finished : Outcome::Failed;
    } else {
        outcome.code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        outcome.kind = Outcome::Crashed;
    }
    return outcome;
}

std::string seconds(std::chrono::milliseconds limit) {
    const long long tenths = (limit.count() + 50) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
    return text + (tenths == 10 ? " second" : " seconds");
}

// Runs one request; on success `decoded` and `pages` hold the helper's answer, otherwise
// decoded.problem says what went wrong.
void ask(const std::vector<std::string>& request, const std::string& path, Decoded& decoded,
         int& pages) {
    const Descriptor result(::memfd_create("vantrelo-decode", MFD_CLOEXEC));
    if (result.get() < 0) {
        decoded.problem = "there is not enough memory to decode it (" +
                          std::generic_category().message(errno) + ")";
        return;
    }
    std::vector<std::string> arguments{helperPath(), std::to_string(::getpid())};
    arguments.insert(arguments.end(), request.begin(), request.end());
    arguments.push_back(path);
    Decoded answer;
    int answerPages = 0;
    bool answered = false;
    const Outcome outcome = runHelper(arguments, result.get(), currentTimes(), [&] {
        answered = loadDecoded(result.get(), answer, answerPages);
    });
    const std::string damaged = "the file is damaged or incomplete";
    switch (outcome.kind) {
    case Outcome::Finished:
        if (!answered) {
            decoded.problem = damaged + " (its decoding gave no usable picture)";
            return;
        }
        decoded = std::move(answer);
        pages = answerPages;
        return;
    case Outcome::Crashed: decoded.problem = damaged + " (decoding it crashed)"; return;
    case Outcome::Failed:
        switch (outcome.code) {
        case kRefusedRequest: decoded.problem = "the image decoder does not take its type"; break;
        case kNoMemory: decoded.problem = "there is not enough memory to decode it"; break;
        case kCannotAnswer:
            decoded.problem = "the image decoder cannot hand over the decoded picture";
            break;
        default: decoded.problem = damaged + " (decoding it failed)"; break;
        }
        return;
    case Outcome::TimedOut:
        decoded.problem =
            damaged + " (decoding it took longer than " + seconds(outcome.limit) + ")";
        return;
    case Outcome::NotStarted:
        decoded.problem = "the image decoder " + arguments[0] + " cannot be started (" +
                          std::generic_category().message(outcome.code) + ")";
        return;
    }
}

}  // namespace

DecodeTimes setDecodeTimes(const DecodeTimes& times) {
    const std::lock_guard<std::mutex> lock(g_timesMutex);
    return std::exchange(g_times, times);
}

Decoded decode(const std::string& path, FREE_IMAGE_FORMAT format, int flags) {
    Decoded decoded;
    int pages = 0;
    ask({"decode", std::to_string(static_cast<int>(format)), std::to_string(flags)}, path, decoded,
        pages);
    return decoded;
}

int pageCount(const std::string& path, FREE_IMAGE_FORMAT format) {
    Decoded decoded;
    int pages = 0;
    ask({"pages", std::to_string(static_cast<int>(format))}, path, decoded, pages);
    return decoded.problem.empty() ? pages : 0;
}

}  // namespace Mav::Host::App::ImageIo
