#include "host/system/system_info.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

namespace Mav::Host::System {

std::uint32_t cpuFeatures() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    std::uint32_t mask = kCpuBaseSet;
    const auto set = [&mask](bool present, std::uint32_t bit) {
        if (present) mask |= bit;
    };
    set(__builtin_cpu_supports("3dnow"), kCpu3dNow);
    set(__builtin_cpu_supports("3dnowp"), kCpu3dNowExt);
    set(__builtin_cpu_supports("sse3"), kCpuSse3);
    set(__builtin_cpu_supports("ssse3"), kCpuSsse3);
    set(__builtin_cpu_supports("sse4a"), kCpuSse4a);
    set(__builtin_cpu_supports("sse4.1"), kCpuSse41);
    set(__builtin_cpu_supports("sse4.2"), kCpuSse42);
    set(__builtin_cpu_supports("popcnt"), kCpuPopcnt);
    set(__builtin_cpu_supports("lzcnt"), kCpuLzcnt);
    set(__builtin_cpu_supports("aes"), kCpuAes);
    set(__builtin_cpu_supports("fma"), kCpuFma);
    set(__builtin_cpu_supports("fma4"), kCpuFma4);
    set(__builtin_cpu_supports("f16c"), kCpuF16c);
    set(__builtin_cpu_supports("pclmul"), kCpuPclmul);
    set(__builtin_cpu_supports("xop"), kCpuXop);
    const bool avx = __builtin_cpu_supports("osxsave") && __builtin_cpu_supports("avx");
    set(avx, kCpuAvx);
    set(avx && __builtin_cpu_supports("avx2"), kCpuAvx2);
    return mask;
#else
    return 0;
#endif
}

std::uint64_t systemProcessorCount() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online > 0) return static_cast<std::uint64_t>(online);
    const unsigned reported = std::thread::hardware_concurrency();
    return reported > 0 ? reported : 1;
}

std::uint64_t availableMemoryBytes() {
    std::FILE* file = std::fopen("/proc/meminfo", "re");
    if (!file) return 0;
    char line[256];
    unsigned long long kibibytes = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file))
        found = std::sscanf(line, "MemAvailable: %llu kB", &kibibytes) == 1;
    std::fclose(file);
    if (!found || kibibytes > UINT64_MAX / 1024) return 0;
    return static_cast<std::uint64_t>(kibibytes) * 1024;
}

}  // namespace Mav::Host::System
