#pragma once
// FreeImage plumbing shared by subject-image reading and writing: bitmap holders, the per-thread
// capture of FreeImage's messages, format identification and decoding through a file handle of
// our own that notices truncated files.
//
// FreeImage is not ours and does not survive every damaged file: some make it crash (PSD, XPM)
// and some make it loop for ever (EXR).  So the program never decodes a file itself: decode() and
// pageCount() run the decoding in a helper program, vantrelo-decode (host/decode/), that hands
// the bitmap back in shared memory and is killed when it takes too long.  The helper does the
// work with decodeHere() and pageCountHere(), which the program itself never calls on a user's
// file.

#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Mav::Host::App::ImageIo {

struct BitmapUnloader {
    void operator()(FIBITMAP* bitmap) const noexcept {
        if (bitmap) FreeImage_Unload(bitmap);
    }
    // The memory the bitmap's pixels live in when they are not FreeImage's own (the shared memory
    // a helper decoded into, the block an encoder's copy is made in); released after the bitmap.
    std::shared_ptr<const void> pixelMemory;
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapUnloader>;

// Gives the memory of the bitmap's rows [first, last) back to the system when its pixels live in
// a helper's shared memory (only whole pages inside those rows; the rows read as zeros from then
// on), so that a reader that copies the rows elsewhere does not hold the picture twice; does
// nothing for pixels that are FreeImage's own.
void releaseDecodedRows(const Bitmap& bitmap, int first, int last);

// body(runFirst, runLast) over rows [first, last) in runs of 64, in order: a large picture is
// copied between the decoder, the image buffer and the encoder in such runs, each handed back
// once it is copied, so that the two copies are never both held whole.
template <class Body>
void forEachRowRun(std::ptrdiff_t first, std::ptrdiff_t last, Body body) {
    constexpr std::ptrdiff_t kRun = 64;
    for (std::ptrdiff_t run = first; run < last; run += kRun) body(run, std::min(last, run + kRun));
}

// Collects the messages FreeImage reports on this thread while the object lives.  FreeImage has
// one process-wide message callback; it hands each message to the innermost live collector of the
// calling thread and drops messages that no collector waits for.
class FreeImageMessages {
public:
    FreeImageMessages();
    ~FreeImageMessages();
    FreeImageMessages(const FreeImageMessages&) = delete;
    FreeImageMessages& operator=(const FreeImageMessages&) = delete;

    bool any() const { return !text_.empty(); }
    // The messages joined by "; ".
    const std::string& text() const { return text_; }
    void add(const char* message);

private:
    FreeImageMessages* previous_;
    std::string text_;
};

// The file's format by its content, else by its name.  With mustExist the file must open for
// reading; otherwise a missing file is told by its name alone.  FIF_UNKNOWN with a reason (a
// short lower-case phrase) when neither tells.
FREE_IMAGE_FORMAT identifyFormat(const std::string& path, bool mustExist, std::string& reason);

// The load flag that keeps CMYK pixels as CMYK (JPEG, TIFF, PSD), else 0.
int cmykLoadFlag(FREE_IMAGE_FORMAT format);

// The types subject images are read from: those FreeImage both reads and writes, since a keyed
// picture goes back into its own file in its own type, and whose damaged and truncated files the
// tests show to be refused.  JPEG XR is left out: FreeImage cannot write it.  One entry per type
// the open dialog offers, under the name it shows; a type may span several FreeImage formats.
struct SubjectType {
    const char* name;
    std::vector<FREE_IMAGE_FORMAT> formats;
};
const std::vector<SubjectType>& subjectTypes();
bool isSubjectFormat(FREE_IMAGE_FORMAT format);
// The file name extensions FreeImage gives the type's formats, in its order, each once.
std::vector<std::string> subjectExtensions(const SubjectType& type);

// The format a subject image is read in: the file must exist, and its format be read and written
// by FreeImage (isSubjectFormat).  FIF_UNKNOWN with the reason (a short lower-case phrase to follow
// the file's name) otherwise.
FREE_IMAGE_FORMAT subjectFormat(const std::string& path, std::string& reason);

struct Decoded {
    Bitmap bitmap;
    // Empty when the decode was clean; otherwise why the file counts as damaged: FreeImage found
    // nothing, reported a message (it warns, yet returns a picture, for a JPEG that ends early),
    // the decoder asked for bytes past the end of the file (uncompressed formats read a truncated
    // file without a word), the header promises more bytes than the file has, or the decoding
    // crashed, failed or ran past its time limit.
    std::string problem;
};

// Decodes the file in the helper program.  The bitmap carries what the file gave FreeImage:
// pixels (unless FIF_LOAD_NOPIXELS), palette, transparency, background colour, resolution, colour
// profile and metadata.  A helper that cannot be started gives a problem that says so.
Decoded decode(const std::string& path, FREE_IMAGE_FORMAT format, int flags);

// How many pictures the file holds (TIFF pages, GIF frames, icon sizes), counted in the helper
// program; 1 for formats that hold one picture, 0 when the file cannot be opened, its pages
// cannot be counted or the counting fails.
int pageCount(const std::string& path, FREE_IMAGE_FORMAT format);

// The same in this process; only for the helper program and for measurements.  When pixels are
// to be decoded (no FIF_LOAD_NOPIXELS, or a format that cannot go without them) and `beforePixels`
// is given, the header is read first and `beforePixels` told the bytes of pixels it promises:
// width x height x bytes per pixel, at least one byte a pixel.  A header that cannot be read
// without the pixels refuses the file.
Decoded decodeHere(const std::string& path, FREE_IMAGE_FORMAT format, int flags,
                   const std::function<void(std::uint64_t)>& beforePixels = {});
int pageCountHere(const std::string& path, FREE_IMAGE_FORMAT format);

// How long a helper may take.  Reading a header (the whole of a header read or a page count, and
// the first step of every decode of pixels) has `header`; the pixels then have `base` and
// `perMebibyte` for every MiB of pixels the header promises, so that the limit follows the
// picture's size rather than the file's: a damaged file of a few bytes is given up within
// seconds, a legitimate picture of hundreds of megapixels is not cut off.
//
// The allowance, measured in Release on the 8-core development machine under the load of other
// builds (FreeImage's decode in the process, best of two): a 6000 x 4000 picture with grain
// (69 MiB of 8-bit pixels) takes 19 ms a MiB as JPEG or PNG, 34 ms as JPEG 2000 (the slowest),
// 24 ms as GIF (one byte a pixel), 18 ms as 16-bit LZW TIFF, 2 ms or less as PSD, EXR or Targa;
// a 20000 x 15000 JPEG (300 Mpixels, 858 MiB) 9.4 s, 11 ms a MiB.  A 300-Mpixel JPEG that took
// 37 s on a busier run is 41 ms a MiB; with the machine's 8 cores loaded six times over, even
// an uncompressed 16-bit TIFF of 17 MiB took more than 100 ms a MiB through the helper.  200 ms
// a MiB gives the 300-Mpixel JPEG 174 s, nearly five times what it took.  The helper's start,
// its header read and the handing over of the pixels add 5 ms, a few ms and half a millisecond
// a MiB (bench/bench_decode.cpp).
struct DecodeTimes {
    std::chrono::milliseconds header{2000};
    std::chrono::milliseconds base{2000};
    std::chrono::milliseconds perMebibyte{200};
};

// Sets the times the helper gets and returns those in force before.  The program keeps the
// defaults; tests change them to show what follows from them and to make files that hang the
// decoder cost them little.
DecodeTimes setDecodeTimes(const DecodeTimes& times);

// "Cannot read \"path\": reason." and the same for writing.
std::string readFailure(const std::string& path, const std::string& reason);
std::string writeFailure(const std::string& path, const std::string& reason);
// Why a file of several pages or frames is not replaced.
std::string severalPages(const std::string& path);

}  // namespace Mav::Host::App::ImageIo
