// The file-list text of the backdrop and overlay lists: what the list validator writes must read
// back to the same paths, and the lenient reader must split hand-written lists as users expect.

#include "host/param/file_list_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Mav::Host::Param::joinFileListText;
using Mav::Host::Param::splitFileListText;
using Names = std::vector<std::string>;

TEST(FileListText, WrittenListsReadBackToTheSamePaths) {
    const std::vector<Names> lists = {
        {},
        {""},
        {"/a/plain.png"},
        {"/pictures/with blank/it's here.png", "C:\\back\\slash.jpg"},
        {"quote\"inside", "'single'", "trailing\\", "\\leading", "tab\tand\nnewline"},
        {"", "between empties", ""},
        {"caf\xC3\xA9 \xE2\x9C\x93.png"},  // UTF-8 bytes above 0x7F are not white space
    };
    for (const Names& paths : lists) {
        const std::string text = joinFileListText(paths);
        EXPECT_EQ(splitFileListText(text), paths) << text;
    }
}

TEST(FileListText, WriterQuotesEachPathAndEscapesQuotesAndBackslashesOnly) {
    EXPECT_EQ(joinFileListText({}), "");
    EXPECT_EQ(joinFileListText({"a b", "c'd\\e\"f"}), R"("a b" "c\'d\\e\"f")");
    EXPECT_EQ(joinFileListText({"x\ty"}), "\"x\ty\"");
}

TEST(FileListText, ReaderSplitsHandWrittenLists) {
    struct Case {
        std::string text;
        Names names;
    };
    const Case cases[] = {
        {"", {}},
        {" ", {""}},  // white space alone still makes one (empty) name
        {"a   b\t\tc\r\nd", {"a", "b", "c", "d"}},
        {"a b ", {"a", "b", ""}},  // a final blank gives a final empty name
        {"\"\"", {""}},
        {"\"\" x", {"", "x"}},
        {"'a b' \"c\"", {"a b", "c"}},
        {"'a b'\"c\"", {"a b", "c"}},  // a closing quote needs no blank after it
        {"\"a\"x", {"a", "x"}},
        {"ab\"c d", {"ab\"c", "d"}},  // quotes inside an unquoted name are ordinary
        {"\"it's\"", {"it's"}},        // the other quote kind does not close
        {"'say \"hi\"'", {"say \"hi\""}},
        {"\"open to the end", {"open to the end"}},
        {"D:\\\\x.png", {"D:\\x.png"}},
        {"D:\\x.png", {"D:x.png"}},
        {"a\\ b c", {"a b", "c"}},     // an escaped blank stays in the name
        {"\"a\\\"b\" c", {"a\"b", "c"}},
        {"abc\\", {"abc"}},            // a backslash ending the text is dropped
        {"\"abc\\", {"abc"}},
        {"\\", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(splitFileListText(c.text), c.names) << c.text;
}

}  // namespace
