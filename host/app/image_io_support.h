#pragma once
// FreeImage plumbing shared by subject-image reading and writing: bitmap holders, the per-thread
// capture of FreeImage's messages, format identification and decoding through a file handle of
// our own that notices truncated files.

#include <FreeImage.h>

#include <memory>
#include <string>

namespace Mav::Host::App::ImageIo {

struct BitmapUnloader {
    void operator()(FIBITMAP* bitmap) const noexcept {
        if (bitmap) FreeImage_Unload(bitmap);
    }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapUnloader>;

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

struct Decoded {
    Bitmap bitmap;
    // Empty when the decode was clean; otherwise why the file counts as damaged: FreeImage found
    // nothing, reported a message (it warns, yet returns a picture, for a JPEG that ends early),
    // or a fixed-size record could not be read in full (uncompressed formats read a truncated
    // file without a word).
    std::string problem;
};

Decoded decode(const std::string& path, FREE_IMAGE_FORMAT format, int flags);

// How many pictures the file holds (TIFF pages, GIF frames, icon sizes), counted through the
// file handle as decoding reads it; 1 for formats that hold one picture, 0 when the file cannot
// be opened or its pages cannot be counted.
int pageCount(const std::string& path, FREE_IMAGE_FORMAT format);

// "Cannot read \"path\": reason." and the same for writing.
std::string readFailure(const std::string& path, const std::string& reason);
std::string writeFailure(const std::string& path, const std::string& reason);
// Why a file of several pages or frames is not replaced.
std::string severalPages(const std::string& path);

}  // namespace Mav::Host::App::ImageIo
