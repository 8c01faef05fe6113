#pragma once
// A translation catalog for tests that check a text goes through the toolkit's translation
// lookup: while a TestCatalog lives, every one of its texts translates to itself in brackets
// ("Radius" -> "[Radius]"), and any text not in the list stays as it is.  The catalog is built in
// memory in the toolkit's compiled-catalog format; no file is read.

#include <wx/translation.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vantrelo_test {

inline std::string bracketed(const std::string& text) { return "[" + text + "]"; }

class TestCatalog {
public:
    explicit TestCatalog(std::initializer_list<std::string> texts) {
        std::vector<std::pair<std::string, std::string>> entries;
        // The header entry names the character set of the translations.
        entries.emplace_back("", "Content-Type: text/plain; charset=UTF-8\n");
        for (const std::string& text : texts) entries.emplace_back(text, bracketed(text));
        auto* translations = new wxTranslations;
        translations->SetLoader(new Loader(compile(entries)));
        translations->SetLanguage("fr");
        translations->AddCatalog("vantrelo-test");
        wxTranslations::Set(translations);
    }
    ~TestCatalog() { wxTranslations::Set(nullptr); }
    TestCatalog(const TestCatalog&) = delete;
    TestCatalog& operator=(const TestCatalog&) = delete;

private:
    class Loader : public wxTranslationsLoader {
    public:
        explicit Loader(std::string data) : data_(std::move(data)) {}
        wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString&) override {
            return wxMsgCatalog::CreateFromData(
                wxScopedCharBuffer::CreateNonOwned(data_.data(), data_.size()), domain);
        }
        wxArrayString GetAvailableTranslations(const wxString&) const override {
            wxArrayString languages;
            languages.Add("fr");
            return languages;
        }

    private:
        std::string data_;
    };

    // The GNU message-catalog layout: a header, the tables of original and translated strings
    // (length and offset each), then the strings, each ending in a zero byte.
    static std::string compile(const std::vector<std::pair<std::string, std::string>>& entries) {
        const auto n = static_cast<std::uint32_t>(entries.size());
        const std::uint32_t originals = 28, translated = originals + 8 * n;
        std::uint32_t offset = translated + 8 * n;
        std::vector<std::uint32_t> words = {0x950412de, 0, n, originals, translated, 0, offset};
        std::vector<std::uint32_t> originalTable, translatedTable;
        std::string strings;
        for (const auto& e : entries) {
            originalTable.push_back(static_cast<std::uint32_t>(e.first.size()));
            originalTable.push_back(offset + static_cast<std::uint32_t>(strings.size()));
            strings += e.first + '\0';
        }
        for (const auto& e : entries) {
            translatedTable.push_back(static_cast<std::uint32_t>(e.second.size()));
            translatedTable.push_back(offset + static_cast<std::uint32_t>(strings.size()));
            strings += e.second + '\0';
        }
        words.insert(words.end(), originalTable.begin(), originalTable.end());
        words.insert(words.end(), translatedTable.begin(), translatedTable.end());
        std::string data;
        for (std::uint32_t word : words)
            for (int shift = 0; shift < 32; shift += 8) data += char((word >> shift) & 0xff);
        return data + strings;
    }
};

}  // namespace vantrelo_test
