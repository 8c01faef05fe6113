#include "host/param/file_list_text.h"

namespace Mav::Host::Param {

namespace {

// The six white-space characters of the C locale, tested directly so that neither the process
// locale nor the sign of char can change where a name ends (UTF-8 bytes above 0x7F are never
// white space).
bool isListSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::vector<std::string> splitFileListText(std::string_view text) {
    std::vector<std::string> names;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && isListSpace(text[i])) ++i;
        std::string name;
        char quote = 0;
        if (i < n && (text[i] == '"' || text[i] == '\'')) quote = text[i++];
        while (i < n) {
            const char c = text[i];
            if (c == '\\') {
                // A backslash ending the text has nothing to take literally; it is dropped.
                if (i + 1 < n) name += text[i + 1];
                i += 2;
                continue;
            }
            if (quote ? c == quote : isListSpace(c)) {
                if (quote) ++i;  // the closing quote is consumed, white space is not
                break;
            }
            name += c;
            ++i;
        }
        names.push_back(std::move(name));
    }
    return names;
}

std::string joinFileListText(const std::vector<std::string>& paths) {
    std::string text;
    for (std::size_t p = 0; p < paths.size(); ++p) {
        if (p != 0) text += ' ';
        text += '"';
        for (const char c : paths[p]) {
            if (c == '"' || c == '\'' || c == '\\') text += '\\';
            text += c;
        }
        text += '"';
    }
    return text;
}

}  // namespace Mav::Host::Param
