#include "host/app/image_io_support.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <system_error>

namespace Mav::Host::App::ImageIo {

namespace {

thread_local FreeImageMessages* t_collector = nullptr;

void DLL_CALLCONV collectMessage(FREE_IMAGE_FORMAT, const char* message) {
    if (t_collector && message) t_collector->add(message);
}

// A file opened for decoding.  Readers that ask for whole records (size > 1) and get less were
// cut short by the end of the file; bulk readers that ask for bytes (size 1) meet the end of the
// file as a matter of course and are not counted.
struct InputFile {
    explicit InputFile(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {}
    ~InputFile() {
        if (file) std::fclose(file);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::FILE* file;
    bool shortRecord = false;
};

unsigned DLL_CALLCONV readInput(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* input = static_cast<InputFile*>(handle);
    if (size == 0 || count == 0) return 0;
    const std::size_t got = std::fread(buffer, size, count, input->file);
    if (got < count && size > 1) input->shortRecord = true;
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

}  // namespace

FreeImageMessages::FreeImageMessages() : previous_(t_collector) {
    static std::once_flag installed;
    std::call_once(installed, [] { FreeImage_SetOutputMessage(collectMessage); });
    t_collector = this;
}

FreeImageMessages::~FreeImageMessages() {
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

Decoded decode(const std::string& path, FREE_IMAGE_FORMAT format, int flags) {
    Decoded decoded;
    InputFile input(path);
    if (!input.file) {
        decoded.problem = "the file cannot be opened (" + errorText(errno) + ")";
        return decoded;
    }
    FreeImageIO io = inputIo();
    FreeImageMessages messages;
    decoded.bitmap.reset(FreeImage_LoadFromHandle(format, &io, &input, flags));
    if (!decoded.bitmap || messages.any() || input.shortRecord) {
        decoded.problem = "the file is damaged or incomplete";
        if (messages.any()) decoded.problem += " (" + messages.text() + ")";
    }
    return decoded;
}

int pageCount(const std::string& path, FREE_IMAGE_FORMAT format) {
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
