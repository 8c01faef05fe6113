#pragma once
// The text form of a list of file paths, as a text parameter holds it ("Backdrop files",
// "Overlay files"): one line of UTF-8 names separated by white space.
//
// Writing quotes every path in double quotes, puts a backslash before every double quote, single
// quote and backslash inside it, and separates the paths by one blank, so any path survives a
// round trip.  Reading is more lenient than writing, because users and older versions wrote lists
// by hand:
//   - a name starts at the first character that is not white space (blank, tab, line feed,
//     vertical tab, form feed, carriage return);
//   - a double or single quote there opens a quoted name that runs to the next unescaped quote of
//     the same kind (consumed) or to the end of the text; white space inside belongs to the name,
//     and the next name may start right after the closing quote;
//   - an unquoted name runs to the next white space or the end; quotes inside it are ordinary;
//   - in both, a backslash takes the next character literally and is itself dropped (a backslash
//     that ends the text is dropped too);
//   - every name is kept, also an empty one: a text that ends in white space, or a pair of empty
//     quotes, gives an empty name, while the empty text gives no names at all.
//
// Pure text functions: no toolkit, no file access.  The list-box validator of the host and the
// plug-in's layer lists both read and write the parameter through them.

#include <string>
#include <string_view>
#include <vector>

namespace Mav::Host::Param {

// The names of a file-list text, in order.
std::vector<std::string> splitFileListText(std::string_view text);

// The file-list text of the paths; the empty list gives the empty text.
std::string joinFileListText(const std::vector<std::string>& paths);

}  // namespace Mav::Host::Param
