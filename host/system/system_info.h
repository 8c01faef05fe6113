#pragma once
// What the host asks of the machine: processors, vector instruction sets and free memory.

#include <cstdint>

namespace Mav::Host::System {

// Bits of the feature mask returned by cpuFeatures.  Bits 0, 1, 2, 5 and 6 stand for the base set
// that every 64-bit x86 processor has and are always set there.
enum CpuFeature : std::uint32_t {
    kCpuBaseSet = 0x67,
    kCpu3dNow = 1u << 3,
    kCpu3dNowExt = 1u << 4,
    kCpuSse3 = 1u << 7,
    kCpuSsse3 = 1u << 8,
    kCpuSse4a = 1u << 9,
    kCpuSse41 = 1u << 10,
    kCpuSse42 = 1u << 11,
    kCpuPopcnt = 1u << 12,
    kCpuLzcnt = 1u << 13,
    kCpuAes = 1u << 14,
    kCpuFma = 1u << 15,
    kCpuFma4 = 1u << 16,
    kCpuF16c = 1u << 17,
    kCpuPclmul = 1u << 18,
    kCpuXop = 1u << 19,
    kCpuAvx = 1u << 20,
    kCpuAvx2 = 1u << 21,
};

// The feature mask of the running processor; 0 on a processor without the x86 identification
// instruction.  AVX (and with it AVX2) is reported only when the operating system saves the
// vector registers, so a caller may use the instructions whenever the bit is set.
std::uint32_t cpuFeatures();

// Processors online; at least 1.
std::uint64_t systemProcessorCount();

// The memory the system could give to new work without swapping (MemAvailable of /proc/meminfo),
// in bytes; 0 when the system does not tell.
std::uint64_t availableMemoryBytes();

}  // namespace Mav::Host::System
