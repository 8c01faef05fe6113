#pragma once
// Reading and writing the subject images: the photographs that are keyed, read from their files
// into image buffers and, after the batch render, written back over the same files in their own
// formats.  FreeImage does the file work; Little CMS converts CMYK images into the working colour
// space (host/app/colour_profile.h).
//
// Reading gives 8-bit, 16-bit or float RGBA buffers, rows top-down.  The buffer's alpha flag
// follows the file: it is set only for a real alpha channel (32-bit RGBA bitmaps, RGBA16 and
// RGBAF images, the alpha of a CMYK file), never for the fourth channel that palette, grey or
// 24-bit images are widened with, which is filled opaque; in preview mode every buffer carries
// alpha.  A damaged or truncated file (also one FreeImage only warns about, such as a JPEG that
// ends early, and any file shorter than its header promises), an unsupported pixel type or a
// CMYK file without an embedded profile is refused with a message and leaves the buffer as it
// was.  FreeImage decodes in a helper program (host/app/image_io_support.h), so a file that
// crashes it or makes it loop is refused as damaged too.  Only the types FreeImage can write back
// are read (ImageIo::isSubjectFormat).
//
// Writing negotiates the pixel type and depth the file's format takes, keeps the old file's
// metadata (without the EXIF "InterColorProfile" tag), saves TIFF with LZW and colour-quantises
// palette results.  The working profile is embedded only when the pixels were converted into it
// (the file was CMYK); otherwise the file's own RGB profile is kept.  The new file is written
// beside the old one and renamed over it only when every write succeeded
// (host/system/file_store.h): a failure leaves the original byte for byte.  A file of several
// pages or frames (multi-page TIFF, animated GIF, icon of several sizes) is never replaced: reading
// gives only its first picture, so the others would be lost; previews of that picture still work.
//
// Messages name the file and say why; nothing here opens a window.  Callers decide where a
// message goes: the batch queues it for its "Error" box, the viewer shows it with its own, a size
// probe drops it.
//
// Paths are UTF-8.  Reads and writes run on one thread at a time; FreeImage's messages are
// caught per thread while a file is being decoded.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/app/colour_profile.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"

namespace Mav::Host::App {

// What reading and writing need of the application host.  The application host implements it
// beside Mav::Host::System::Host; ImageBuffer's file operations reach it by cross-casting the
// buffer's owner, and fail with a message when the owner does not implement it.
class SubjectImageHost {
public:
    virtual ~SubjectImageHost();

    // The input list: number of entries and entry `index` (< count) as a UTF-8 path.
    virtual std::size_t subjectInputCount() const = 0;
    virtual std::string subjectInputPath(std::size_t index) const = 0;
    // The current input's index.
    virtual std::size_t subjectCurrentInput() const = 0;
    // The image size of input `index` ({0, 0, width, height}); the host keeps it only for the
    // current input (Host::recordBounds).
    virtual void subjectRecordBounds(System::Rect bounds, std::size_t index) = 0;
    // The current input's full-resolution rectangle (Host::currentBounds).
    virtual System::Rect subjectCurrentBounds() = 0;
    // The host's preview flag field (not the virtual isPreviewMode): reads in preview convert
    // CMYK to 8 bits and become 8-bit proxies.
    virtual bool subjectPreviewFlag() const = 0;
    // Host::supportsHighBitDepth and Host::usePerceptualIntent.
    virtual bool subjectHighBitDepth() const = 0;
    virtual bool subjectPerceptualIntent() const = 0;
    // After every pixel read: the profile the image's pixels are now in (the working profile
    // after a CMYK conversion, the file's own RGB profile, else the working profile, as untagged
    // pixels count as sRGB).  The host keeps it for the viewer and closes the one it held
    // (Host::setColourProfile).  Never null.
    virtual void subjectTakeProfile(ProfileHandle profile) = 0;
    // Input `index`'s image as already read at full resolution (as readSubjectImage gives it, with
    // its domain set), or null.  While there is one, pixel reads of that input are made from it at
    // any scale instead of decoding the file again; none by default.
    virtual const System::ImageBuffer* subjectDecodedImage(std::size_t index) const;
};

struct ReadOptions {
    bool loadPixels = true;        // false: size and depth only, no pixels
    bool previewFlag = false;      // the host's preview flag: CMYK converts to 8 bits
    bool previewMode = false;      // the host's isPreviewMode(): the alpha flag is forced on
    bool highBitDepth = true;      // false: CMYK converts to 8 bits
    bool perceptualIntent = true;  // else relative colorimetric
};

struct ReadResult {
    bool ok = false;
    std::string message;     // why the read failed, naming the file; empty on success
    ProfileHandle profile;   // after a pixel read: the profile the pixels are in (never null)
    bool converted = false;  // the pixels were converted into the working profile (CMYK files)
};

// The options every read of `host`'s inputs takes; `previewMode` is the reading buffer's owner's
// (the batch reads outside preview).  One place, so that the batch's own read of an input is the
// read the plug-in's reduced copies of it would make.
ReadOptions subjectReadOptions(const SubjectImageHost& host, bool previewMode);

// Reads the file at `path` into `buffer` (scale 1, bounds and domain {0, 0, width, height}, four
// channels).  A header-only read frees the buffer's pixels and sets only bounds, depth, channel
// count, scale and the alpha flag.  On failure the buffer is unchanged.  std::bad_alloc from the
// buffer passes through.
ReadResult readSubjectImage(System::ImageBuffer& buffer, const std::string& path,
                            const ReadOptions& options);

// Writes `buffer` (its bounds, at 8, 16 or 32 bits per channel) over the file at `path` in that
// file's format (told by content, else by name).  On failure returns false with the message and
// the file is as it was; for a file of several pages the message is
// "\"<path>\" has several pages; Vantrelo keys only single images and left it unchanged."
bool writeSubjectImage(const System::ImageBuffer& buffer, const std::string& path,
                       std::string& message);
// The same for a buffer the caller is done with (the batch's result): its rows are given back to
// the system as they are copied for the encoder, so that they and the encoder's copy are not both
// held whole; `pixelsTaken` runs once all are copied, before the encoding (the caller may free the
// buffer there).  The buffer's pixels read as zeros afterwards.
// With `kept`, the encoder's copy is made in the block it holds when that has the size needed, and
// the block stays there for the next write: a block of this size taken fresh is zeroed by the
// system page by page as the copy first writes it.
struct EncoderBlock {
    std::shared_ptr<void> memory;
    std::uint64_t bytes = 0;
};
bool writeConsumedImage(System::ImageBuffer& buffer, const std::string& path,
                        std::string& message, const std::function<void()>& pixelsTaken,
                        EncoderBlock* kept = nullptr);

// Why OK could not write a keyed result back over the file at `path`: the message the batch would
// give, naming the file, for a file it cannot read as a subject image (missing, of an unknown type
// or of a type FreeImage cannot write back), one writeSubjectImage refuses to replace (read-only,
// in a folder that cannot be written) or one of several pages.  Empty when none of these stands in
// the way; a damaged picture is told when it is read.  Made when an image is opened, so the user
// learns it before keying; it creates and removes a temporary file beside the file, as a write
// does first.
std::string writeBackRefusal(const std::string& path);

// The toolkit's logging level is lowered to errors only while a file is read or written.
unsigned long lowerLogLevel();  // returns the level to put back
void resetLogLevel(unsigned long saved);

class QuietLogScope {
public:
    QuietLogScope() : saved_(lowerLogLevel()) {}
    ~QuietLogScope() { resetLogLevel(saved_); }
    QuietLogScope(const QuietLogScope&) = delete;
    QuietLogScope& operator=(const QuietLogScope&) = delete;

private:
    unsigned long saved_;
};

}  // namespace Mav::Host::App
