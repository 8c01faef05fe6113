#pragma once
// The final composite rows: the keyed image (four channels, straight colour, matte as alpha; float
// for a float output, 16-bit for 16- and 8-bit outputs) written into the output over a BandJob's
// area, and the colour fills that lay the solid backdrop colour into 16- and 8-bit outputs.
//
// All are band workers (BandJob {host, output, keyed image or colour, area}) run through
// runBands.  The "x4" members need an output of four channels, the "x3" members take fewer and
// never touch a fourth.  The float fills are in plugin/keying_pass.h.
//
//   copy        o := s (transparent output)
//   over        s composited over o (opaque output)
//   matte grey  o.RGB := s.A (alpha opaque)
//   fill        o := colour (four 16-bit values; 8-bit outputs take the high bytes)

#include <cstdint>

namespace vantrelo {

void copyKeyedRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRowsFloat4(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key);
void compositeOverRowsFloat3(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key);

void fillColorRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void fillColorRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRows16x4(void* job, std::uint64_t index, std::uint64_t count,
                           std::uint64_t key);
void compositeOverRows16x3(void* job, std::uint64_t index, std::uint64_t count,
                           std::uint64_t key);

void fillColorRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void fillColorRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

}  // namespace vantrelo
