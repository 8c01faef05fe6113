#include "host/app/image_io_support.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <vector>

namespace Mav::Host::App::ImageIo {

namespace {

thread_local FreeImageMessages* t_collector = nullptr;

void DLL_CALLCONV collectMessage(FREE_IMAGE_FORMAT, const char* message) {
    if (t_collector && message) t_collector->add(message);
}

// The TIFF library has one process-wide pair of message callbacks, and the toolkit's TIFF image
// handler takes them over when it is registered: FreeImage's TIFF work would then land in the
// toolkit's log, shown in a modal window (58 "Internal error, unknown tag" records for every
// TIFF FreeImage reads, 174 for a preview, a batch read and the writer's look at the old file;
// the reads now run in the helper, the writes still here).  While FreeImage works, the callbacks
// are ours: errors go to the thread's collector like FreeImage's own messages, so a failed write
// tells them in its own message; warnings are dropped.  The library is reached through the
// symbols FreeImage brought into the process, so the build needs no TIFF headers.
using TiffHandler = void (*)(const char* module, const char* format, va_list arguments);
using TiffSetHandler = TiffHandler (*)(TiffHandler);

void tiffError(const char* module, const char* format, va_list arguments) {
    // FreeImage asks the library about every EXIF tag it knows, and the library answers a tag it
    // does not know with this "error"; the file is correct all the same.
    if (module && std::strcmp(module, "TIFFFieldWithTag") == 0) return;
    if (!t_collector || !format) return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    t_collector->add(text);
}

void tiffWarning(const char*, const char*, va_list) {}

class TiffMessages {
public:
    void enter() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (users_++ > 0 || !setError_ || !setWarning_) return;
        savedError_ = setError_(tiffError);
        savedWarning_ = setWarning_(tiffWarning);
    }
    void leave() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (--users_ > 0 || !setError_ || !setWarning_) return;
        setError_(savedError_);
        setWarning_(savedWarning_);
    }

private:
    std::mutex mutex_;
    int users_ = 0;
    TiffSetHandler setError_ =
        reinterpret_cast<TiffSetHandler>(::dlsym(RTLD_DEFAULT, "TIFFSetErrorHandler"));
    TiffSetHandler setWarning_ =
        reinterpret_cast<TiffSetHandler>(::dlsym(RTLD_DEFAULT, "TIFFSetWarningHandler"));
    TiffHandler savedError_ = nullptr;
    TiffHandler savedWarning_ = nullptr;
};

TiffMessages& tiffMessages() {
    static TiffMessages messages;
    return messages;
}

// A file opened for decoding.  A read that gets less than it asked for met the end of the file.
struct InputFile {
    explicit InputFile(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {}
    ~InputFile() {
        if (file) std::fclose(file);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::FILE* file;
    bool shortRead = false;
};

unsigned DLL_CALLCONV readInput(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* input = static_cast<InputFile*>(handle);
    if (size == 0 || count == 0) return 0;
    const std::size_t got = std::fread(buffer, size, count, input->file);
    if (got < count) input->shortRead = true;
    return static_cast<unsigned>(got);
}

unsigned DLL_CALLCONV writeNothing(void*, unsigned, unsigned, fi_handle) {
    return 0;
}

int DLL_CALLCONV seekInput(fi_handle handle, long offset, int origin) {
    return ::fseeko(static_cast<InputFile*>(handle)->file, static_cast<off_t>(offset), origin);
}

long DLL_CALLCONV tellInput(fi_handle handle) {
    return static_cast<long>(::ftello(static_cast<InputFile*>(handle)->file));
}

FreeImageIO inputIo() {
    return FreeImageIO{readInput, writeNothing, seekInput, tellInput};
}

std::string errorText(int error) {
    return std::generic_category().message(error);
}

// Decoders that fill a buffer of their own read ahead in blocks and meet the end of every file
// so; they tell a truncated file themselves (libjpeg warns, OpenJPEG fails).  Every other
// decoder reads exactly the bytes the file's structure names, and an intact file never sends
// one of them past its end.
bool readsAhead(FREE_IMAGE_FORMAT format) {
    return format == FIF_JPEG || format == FIF_J2K || format == FIF_JP2;
}

std::uint32_t littleEndian(const unsigned char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

std::uint32_t bigEndian(const unsigned char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

// Products of header fields, which a damaged header may make as large as it likes: they stop at
// the largest value instead of wrapping round to a small one.
constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();

std::uint64_t times(std::uint64_t a, std::uint64_t b) {
    return a != 0 && b > kAll / a ? kAll : a * b;
}

std::uint64_t plus(std::uint64_t a, std::uint64_t b) {
    return b > kAll - a ? kAll : a + b;
}

std::uint64_t fileLength(std::FILE* file) {
    if (::fseeko(file, 0, SEEK_END) != 0) return 0;
    const off_t end = ::ftello(file);
    return end > 0 ? static_cast<std::uint64_t>(end) : 0;
}

bool readAt(std::FILE* file, std::uint64_t offset, unsigned char* into, std::size_t length) {
    return offset <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
           ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fread(into, 1, length, file) == length;
}

// What our own reading of a header found: the bytes of the file its pixels need (ends at the
// last pixel byte, a lower bound for a text layout), and the picture's size, where it says them.
struct HeaderFacts {
    std::uint64_t ends = 0;  // 0: the layout is compressed or was not understood
    std::uint64_t width = 0, height = 0, bytesPerPixel = 0;
    std::uint64_t pixelBytes() const {
        return times(times(width, height), std::max<std::uint64_t>(bytesPerPixel, 1));
    }
};

// An icon's directory gives every picture's offset and length; FreeImage reads a colour picture
// without its transparency mask and so does not notice when the file ends inside that mask.
bool iconDirectoryFits(std::FILE* file) {
    const std::uint64_t end = fileLength(file);
    unsigned char head[6];
    if (!readAt(file, 0, head, 6)) return false;
    const std::uint32_t pictures = littleEndian(head + 4, 2);
    for (std::uint32_t i = 0; i < pictures; ++i) {
        unsigned char entry[16];
        if (std::fread(entry, 1, 16, file) != 16) return false;
        const std::uint64_t length = littleEndian(entry + 8, 4);
        const std::uint64_t offset = littleEndian(entry + 12, 4);
        if (offset + length > end) return false;
    }
    return true;
}

// An XPM's first string promises width x characters-per-pixel characters in each of its rows;
// FreeImage reads a shorter row past its end (a heap over-read that gives invented pixels, or a
// crash) instead of refusing it.
bool pixmapRowsFit(std::FILE* file) {
    std::vector<std::string> strings;
    std::string current;
    bool inside = false;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == '"') {
            if (inside) strings.push_back(std::move(current));
            current.clear();
            inside = !inside;
        } else if (inside) {
            current.push_back(static_cast<char>(c));
        }
    }
    long long width = 0, height = 0, colours = 0, characters = 0;
    if (strings.empty() || std::sscanf(strings[0].c_str(), "%lld %lld %lld %lld", &width, &height,
                                       &colours, &characters) != 4)
        return false;
    if (width <= 0 || height <= 0 || colours <= 0 || characters <= 0) return false;
    const auto rows = static_cast<unsigned long long>(height);
    const auto first = 1 + static_cast<unsigned long long>(colours);
    if (strings.size() < first || strings.size() - first < rows) return false;
    for (unsigned long long row = 0; row < rows; ++row)
        if (static_cast<unsigned long long>(strings[first + row].size()) <
            static_cast<unsigned long long>(width) * static_cast<unsigned long long>(characters))
            return false;
    return true;
}

// Uncompressed BMP rows (BI_RGB, or BI_BITFIELDS for 16 and 32 bits) of whole 32-bit words,
// from the offset the file header names.  Run-length, JPEG and PNG bodies are left to FreeImage.
HeaderFacts bitmapFacts(std::FILE* file) {
    HeaderFacts facts;
    unsigned char head[34];
    if (!readAt(file, 0, head, sizeof head) || head[0] != 'B' || head[1] != 'M') return facts;
    const std::uint32_t infoSize = littleEndian(head + 14, 4);
    std::int64_t width = 0, height = 0;
    std::uint32_t bits = 0, compression = 0;
    if (infoSize == 12) {  // OS/2 1.x: 16-bit sizes, never compressed
        width = littleEndian(head + 18, 2);
        height = littleEndian(head + 20, 2);
        bits = littleEndian(head + 24, 2);
    } else if (infoSize >= 40) {
        width = static_cast<std::int32_t>(littleEndian(head + 18, 4));
        height = static_cast<std::int32_t>(littleEndian(head + 22, 4));
        bits = littleEndian(head + 28, 2);
        compression = littleEndian(head + 30, 4);
    } else {
        return facts;
    }
    const bool plain = compression == 0 || (compression == 3 && (bits == 16 || bits == 32));
    const bool knownDepth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
                            bits == 32;
    if (!plain || !knownDepth || width <= 0 || height == 0) return facts;
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    facts.ends = plus(littleEndian(head + 10, 4), times(rowBytes, rows));
    return facts;
}

// Targa types 1 to 3 (colour-mapped, true-colour, grey) without run-length coding: the pixels
// follow the 18-byte header, the identification text and the colour map.
HeaderFacts targaFacts(std::FILE* file) {
    HeaderFacts facts;
    unsigned char head[18];
    if (!readAt(file, 0, head, sizeof head) || head[2] < 1 || head[2] > 3) return facts;
    const std::uint64_t mapBytes =
        head[1] == 1 ? std::uint64_t{littleEndian(head + 5, 2)} * ((head[7] + 7u) / 8) : 0;
    const std::uint64_t pixels =
        std::uint64_t{littleEndian(head + 12, 2)} * littleEndian(head + 14, 2);
    facts.ends = 18 + head[0] + mapBytes + pixels * ((head[16] + 7u) / 8);
    return facts;
}

// The portable formats' text header: the magic, then numbers parted by white space and comments
// from '#' to the line's end; the raster starts after one white-space character.
bool nextToken(std::FILE* file, std::string& token) {
    token.clear();
    int c = std::fgetc(file);
    for (;;) {
        while (c != EOF && std::isspace(c)) c = std::fgetc(file);
        if (c != '#') break;
        while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file);
    }
    while (c != EOF && !std::isspace(c) && c != '#' && token.size() < 64) {
        token.push_back(static_cast<char>(c));
        c = std::fgetc(file);
    }
    return !token.empty() && c != EOF && std::isspace(c);
}

bool wholeNumber(const std::string& token, std::uint64_t& value) {
    if (token.empty() || token.size() > 18) return false;
    value = 0;
    for (const char c : token) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

// Raw PBM, PGM and PPM (P4 to P6) and PFM need exactly their raster's bytes; a text raster
// (P1 to P3) needs one character a bit and at least two (a digit and a separator) every other
// sample, less the last separator.
HeaderFacts portableFacts(std::FILE* file) {
    HeaderFacts facts;
    std::rewind(file);
    std::string magic, token;
    if (!nextToken(file, magic) || magic.size() != 2 || (magic[0] != 'P')) return facts;
    const char kind = magic[1];
    const bool floats = kind == 'F' || kind == 'f';
    if (!floats && (kind < '1' || kind > '6')) return facts;
    std::uint64_t width = 0, height = 0, maximum = 1;
    if (!nextToken(file, token) || !wholeNumber(token, width) || !nextToken(file, token) ||
        !wholeNumber(token, height))
        return facts;
    const bool bilevel = kind == '1' || kind == '4';
    if (!bilevel && (!nextToken(file, token) || (!floats && !wholeNumber(token, maximum))))
        return facts;
    const off_t rasterAt = ::ftello(file);
    if (rasterAt < 0 || width == 0 || height == 0) return facts;
    const std::uint64_t samples =
        times(times(width, height), kind == '3' || kind == '6' || kind == 'F' ? 3 : 1);
    std::uint64_t raster = 0;
    switch (kind) {
    case '1': raster = samples; break;
    case '2': case '3': raster = times(samples, 2) - 1; break;
    case '4': raster = times((width + 7) / 8, height); break;
    case '5': case '6': raster = times(samples, maximum > 255 ? 2 : 1); break;
    default: raster = times(samples, 4); break;
    }
    facts.ends = plus(static_cast<std::uint64_t>(rasterAt), raster);
    return facts;
}

// WBMP type 0: a fixed-header byte without extension headers, then width and height as
// multi-byte numbers (seven bits a byte, high bit set on all but the last), then rows of one bit
// a pixel padded to whole bytes.
bool multiByte(std::FILE* file, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < 5; ++i) {
        const int c = std::fgetc(file);
        if (c == EOF) return false;
        value = value << 7 | static_cast<std::uint64_t>(c & 0x7f);
        if ((c & 0x80) == 0) return true;
    }
    return false;
}

HeaderFacts wirelessFacts(std::FILE* file) {
    HeaderFacts facts;
    std::rewind(file);
    std::uint64_t type = 0, width = 0, height = 0;
    if (!multiByte(file, type) || type != 0) return facts;
    const int fixed = std::fgetc(file);
    if (fixed == EOF || (fixed & 0x80) != 0) return facts;
    if (!multiByte(file, width) || !multiByte(file, height)) return facts;
    const off_t rasterAt = ::ftello(file);
    if (rasterAt < 0 || width == 0 || height == 0) return facts;
    facts.ends = plus(static_cast<std::uint64_t>(rasterAt), times((width + 7) / 8, height));
    facts.width = width;
    facts.height = height;
    facts.bytesPerPixel = 1;
    return facts;
}

// The size of a GIF's logical screen, which its frames lie within; FreeImage gives a frame one
// byte a pixel.
HeaderFacts gifFacts(std::FILE* file) {
    HeaderFacts facts;
    unsigned char head[10];
    if (!readAt(file, 0, head, sizeof head) || std::memcmp(head, "GIF8", 4) != 0) return facts;
    facts.width = littleEndian(head + 6, 2);
    facts.height = littleEndian(head + 8, 2);
    facts.bytesPerPixel = 1;
    return facts;
}

// A JPEG 2000 codestream starts with its size marker: the reference grid less its offset, and
// each component's precision; FreeImage keeps up to four components, of 8 or 16 bits.
HeaderFacts codestreamFacts(std::FILE* file, std::uint64_t at) {
    HeaderFacts facts;
    unsigned char head[42];
    if (!readAt(file, at, head, sizeof head) || bigEndian(head, 4) != 0xff4fff51u) return facts;
    const std::uint32_t right = bigEndian(head + 8, 4), bottom = bigEndian(head + 12, 4);
    const std::uint32_t left = bigEndian(head + 16, 4), top = bigEndian(head + 20, 4);
    const std::uint32_t components = bigEndian(head + 40, 2);
    if (right <= left || bottom <= top || components == 0) return facts;
    std::uint64_t sampleBytes = 1;
    for (std::uint32_t c = 0; c < std::min<std::uint32_t>(components, 4); ++c) {
        unsigned char precision = 0;
        if (!readAt(file, at + 42 + 3 * c, &precision, 1)) return facts;
        if ((precision & 0x7f) + 1 > 8) sampleBytes = 2;
    }
    facts.width = right - left;
    facts.height = bottom - top;
    facts.bytesPerPixel = std::min<std::uint32_t>(components, 4) * sampleBytes;
    return facts;
}

// A JP2 file is a row of boxes (length, type, content); the picture is the codestream box's.
HeaderFacts jp2Facts(std::FILE* file) {
    const std::uint64_t end = fileLength(file);
    std::uint64_t at = 0;
    for (int box = 0; box < 64 && at + 8 <= end; ++box) {
        unsigned char head[16];
        if (!readAt(file, at, head, 8)) break;
        std::uint64_t length = bigEndian(head, 4), contentAt = at + 8;
        if (length == 1) {
            if (!readAt(file, at + 8, head + 8, 8)) break;
            length = std::uint64_t{bigEndian(head + 8, 4)} << 32 | bigEndian(head + 12, 4);
            contentAt = at + 16;
        } else if (length == 0) {
            length = end - at;
        }
        if (bigEndian(head + 4, 4) == 0x6a703263u) return codestreamFacts(file, contentAt);  // jp2c
        if (length < contentAt - at) break;
        at = plus(at, length);
    }
    return {};
}

// Structures the file's header promises that FreeImage does not check itself, among them the
// bytes of an uncompressed raster: FreeImage would allocate the whole picture a header promises
// (a 768-byte BMP can ask for a gigabyte) before it reads the first row and finds the file short.
bool headerPromisesKept(FREE_IMAGE_FORMAT format, std::FILE* file) {
    bool kept = true;
    HeaderFacts facts;
    switch (format) {
    case FIF_ICO: kept = iconDirectoryFits(file); break;
    case FIF_XPM: kept = pixmapRowsFit(file); break;
    case FIF_BMP: facts = bitmapFacts(file); break;
    case FIF_TARGA: facts = targaFacts(file); break;
    case FIF_PBM: case FIF_PBMRAW: case FIF_PGM: case FIF_PGMRAW: case FIF_PPM: case FIF_PPMRAW:
    case FIF_PFM: facts = portableFacts(file); break;
    case FIF_WBMP: facts = wirelessFacts(file); break;
    default: break;
    }
    if (facts.ends != 0) kept = facts.ends <= fileLength(file);
    std::rewind(file);
    return kept;
}

bool decodesPixels(FREE_IMAGE_FORMAT format, int flags) {
    return (flags & FIF_LOAD_NOPIXELS) == 0 || !FreeImage_FIFSupportsNoPixels(format);
}

// The formats whose header FreeImage cannot read without the pixels, by our own reading.
HeaderFacts ownHeaderFacts(FREE_IMAGE_FORMAT format, std::FILE* file) {
    HeaderFacts facts;
    switch (format) {
    case FIF_WBMP: facts = wirelessFacts(file); break;
    case FIF_GIF: facts = gifFacts(file); break;
    case FIF_J2K: facts = codestreamFacts(file, 0); break;
    case FIF_JP2: facts = jp2Facts(file); break;
    default: break;
    }
    std::rewind(file);
    return facts;
}

}  // namespace

FreeImageMessages::FreeImageMessages() : previous_(t_collector) {
    static std::once_flag installed;
    std::call_once(installed, [] { FreeImage_SetOutputMessage(collectMessage); });
    t_collector = this;
    if (!previous_) tiffMessages().enter();
}

FreeImageMessages::~FreeImageMessages() {
    if (!previous_) tiffMessages().leave();
    t_collector = previous_;
}

void FreeImageMessages::add(const char* message) {
    std::string line(message);
    // Some messages run over two lines; a message box shows them better as one.
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.empty()) return;
    if (!text_.empty()) text_ += "; ";
    text_ += line;
}

FREE_IMAGE_FORMAT identifyFormat(const std::string& path, bool mustExist, std::string& reason) {
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (mustExist || errno != ENOENT) {
            reason = "the file cannot be opened (" + errorText(errno) + ")";
            return FIF_UNKNOWN;
        }
    } else if (S_ISDIR(status.st_mode)) {
        reason = "it is a folder, not an image file";
        return FIF_UNKNOWN;
    } else {
        InputFile input(path);
        if (!input.file) {
            reason = "the file cannot be opened (" + errorText(errno) + ")";
            return FIF_UNKNOWN;
        }
        FreeImageIO io = inputIo();
        FreeImageMessages quiet;
        format = FreeImage_GetFileTypeFromHandle(&io, &input, 0);
    }
    if (format == FIF_UNKNOWN) {
        // FreeImage splits each type's list of extensions with strtok, whose state is shared by
        // the whole process: the batch's reader and writer ask at the same time.
        static std::mutex byName;
        const std::lock_guard<std::mutex> lock(byName);
        format = FreeImage_GetFIFFromFilename(path.c_str());
    }
    if (format == FIF_UNKNOWN) reason = "the image type is not recognised";
    return format;
}

int cmykLoadFlag(FREE_IMAGE_FORMAT format) {
    switch (format) {
    case FIF_JPEG: return JPEG_CMYK;
    case FIF_TIFF: return TIFF_CMYK;
    case FIF_PSD: return PSD_CMYK;
    default: return 0;
    }
}

const std::vector<SubjectType>& subjectTypes() {
    static const std::vector<SubjectType> types{
        {"BMP", {FIF_BMP}},
        {"EXR", {FIF_EXR}},
        {"GIF", {FIF_GIF}},
        {"HDR", {FIF_HDR}},
        {"ICO", {FIF_ICO}},
        {"JNG", {FIF_JNG}},
        {"JPEG", {FIF_JPEG}},
        {"JPEG 2000", {FIF_J2K, FIF_JP2}},
        {"PFM", {FIF_PFM}},
        {"PNG", {FIF_PNG}},
        {"PNM", {FIF_PBM, FIF_PBMRAW, FIF_PGM, FIF_PGMRAW, FIF_PPM, FIF_PPMRAW}},
        {"PSD", {FIF_PSD}},
        {"Targa", {FIF_TARGA}},
        {"TIFF", {FIF_TIFF}},
        {"WBMP", {FIF_WBMP}},
        {"WebP", {FIF_WEBP}},
        {"XPM", {FIF_XPM}},
    };
    return types;
}

bool isSubjectFormat(FREE_IMAGE_FORMAT format) {
    for (const SubjectType& type : subjectTypes())
        for (const FREE_IMAGE_FORMAT member : type.formats)
            if (member == format) return true;
    return false;
}

std::vector<std::string> subjectExtensions(const SubjectType& type) {
    std::vector<std::string> extensions;
    for (const FREE_IMAGE_FORMAT format : type.formats) {
        const char* list = FreeImage_GetFIFExtensionList(format);
        for (std::string rest = list ? list : ""; !rest.empty();) {
            const std::size_t comma = rest.find(',');
            std::string extension = rest.substr(0, comma);
            rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
            if (!extension.empty() &&
                std::find(extensions.begin(), extensions.end(), extension) == extensions.end())
                extensions.push_back(std::move(extension));
        }
    }
    return extensions;
}

FREE_IMAGE_FORMAT subjectFormat(const std::string& path, std::string& reason) {
    const FREE_IMAGE_FORMAT format = identifyFormat(path, true, reason);
    if (format == FIF_UNKNOWN) return FIF_UNKNOWN;
    if (!FreeImage_FIFSupportsReading(format)) {
        reason = "this image type cannot be read";
        return FIF_UNKNOWN;
    }
    if (!isSubjectFormat(format)) {
        reason = std::string("its image type (") + FreeImage_GetFormatFromFIF(format) +
                 ") cannot be written back, so Vantrelo does not key it";
        return FIF_UNKNOWN;
    }
    return format;
}

Decoded decodeHere(const std::string& path, FREE_IMAGE_FORMAT format, int flags,
                   const std::function<void(std::uint64_t)>& beforePixels) {
    Decoded decoded;
    InputFile input(path);
    if (!input.file) {
        decoded.problem = "the file cannot be opened (" + errorText(errno) + ")";
        return decoded;
    }
    const std::string damaged = "the file is damaged or incomplete";
    // Checked before FreeImage sees the file, which it might crash.
    if (!headerPromisesKept(format, input.file)) {
        decoded.problem = damaged + " (its header promises more than the file holds)";
        return decoded;
    }
    FreeImageIO io = inputIo();
    if (beforePixels && decodesPixels(format, flags)) {
        // The decode below tells again whatever the header's reading tells.
        const FreeImageMessages messages;
        std::uint64_t promised = 0;
        if (FreeImage_FIFSupportsNoPixels(format)) {
            const Bitmap header(
                FreeImage_LoadFromHandle(format, &io, &input, flags | FIF_LOAD_NOPIXELS));
            if (header)
                promised = HeaderFacts{0, FreeImage_GetWidth(header.get()),
                                       FreeImage_GetHeight(header.get()),
                                       FreeImage_GetBPP(header.get()) / 8u}
                               .pixelBytes();
            std::rewind(input.file);
            input.shortRead = false;
        } else {
            promised = ownHeaderFacts(format, input.file).pixelBytes();
        }
        if (promised == 0) {
            decoded.problem = damaged;
            if (messages.any()) decoded.problem += " (" + messages.text() + ")";
            return decoded;
        }
        beforePixels(promised);
    }
    FreeImageMessages messages;
    decoded.bitmap.reset(FreeImage_LoadFromHandle(format, &io, &input, flags));
    const bool truncated = input.shortRead && !readsAhead(format);
    if (!decoded.bitmap || messages.any() || truncated) {
        decoded.problem = damaged;
        if (messages.any()) decoded.problem += " (" + messages.text() + ")";
    }
    return decoded;
}

int pageCountHere(const std::string& path, FREE_IMAGE_FORMAT format) {
    InputFile input(path);
    if (!input.file) return 0;
    FreeImageIO io = inputIo();
    // Warnings met while walking the pages do not change their number.
    FreeImageMessages quiet;
    FIMULTIBITMAP* pages = FreeImage_OpenMultiBitmapFromHandle(format, &io, &input, 0);
    if (!pages) return 0;
    const int count = FreeImage_GetPageCount(pages);
    FreeImage_CloseMultiBitmap(pages, 0);
    return count;
}

std::string readFailure(const std::string& path, const std::string& reason) {
    return "Cannot read \"" + path + "\": " + reason + ".";
}

std::string writeFailure(const std::string& path, const std::string& reason) {
    return "Cannot write \"" + path + "\": " + reason + ".";
}

std::string severalPages(const std::string& path) {
    return "\"" + path +
           "\" has several pages; Vantrelo keys only single images and left it unchanged.";
}

}  // namespace Mav::Host::App::ImageIo
