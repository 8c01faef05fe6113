#include "host/app/image_io_support.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// An icon's directory gives every picture's offset and length; FreeImage reads a colour picture
// without its transparency mask and so does not notice when the file ends inside that mask.
bool iconDirectoryFits(std::FILE* file) {
    if (::fseeko(file, 0, SEEK_END) != 0) return false;
    const off_t end = ::ftello(file);
    unsigned char head[6];
    if (end < 0 || ::fseeko(file, 0, SEEK_SET) != 0 || std::fread(head, 1, 6, file) != 6)
        return false;
    const std::uint32_t pictures = littleEndian(head + 4, 2);
    for (std::uint32_t i = 0; i < pictures; ++i) {
        unsigned char entry[16];
        if (std::fread(entry, 1, 16, file) != 16) return false;
        const std::uint64_t length = littleEndian(entry + 8, 4);
        const std::uint64_t offset = littleEndian(entry + 12, 4);
        if (offset + length > static_cast<std::uint64_t>(end)) return false;
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

// Structures the file's header promises that FreeImage does not check itself.
bool headerPromisesKept(FREE_IMAGE_FORMAT format, std::FILE* file) {
    bool kept = true;
    if (format == FIF_ICO) kept = iconDirectoryFits(file);
    if (format == FIF_XPM) kept = pixmapRowsFit(file);
    std::rewind(file);
    return kept;
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
    if (format == FIF_UNKNOWN) format = FreeImage_GetFIFFromFilename(path.c_str());
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

Decoded decodeHere(const std::string& path, FREE_IMAGE_FORMAT format, int flags) {
    Decoded decoded;
    InputFile input(path);
    if (!input.file) {
        decoded.problem = "the file cannot be opened (" + errorText(errno) + ")";
        return decoded;
    }
    // Checked before FreeImage sees the file, which it might crash.
    if (!headerPromisesKept(format, input.file)) {
        decoded.problem = "the file is damaged or incomplete";
        return decoded;
    }
    FreeImageIO io = inputIo();
    FreeImageMessages messages;
    decoded.bitmap.reset(FreeImage_LoadFromHandle(format, &io, &input, flags));
    const bool truncated = input.shortRead && !readsAhead(format);
    if (!decoded.bitmap || messages.any() || truncated) {
        decoded.problem = "the file is damaged or incomplete";
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
