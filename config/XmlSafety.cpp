#include "config/XmlSafety.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

enum class TForm { Bytes, Utf16LE, Utf16BE, Unreadable };

bool StartsWith(std::string_view Text, std::initializer_list<uint8_t> Prefix) {
    if (Text.size() < Prefix.size()) return false;
    size_t i = 0;
    for (uint8_t b : Prefix)
        if (static_cast<uint8_t>(Text[i++]) != b) return false;
    return true;
}

// The forms of XML 1.0 Appendix F, told apart by the first four bytes.
TForm DetectForm(std::string_view D) {
    for (auto ucs4 : {std::initializer_list<uint8_t>{0x00, 0x00, 0xFE, 0xFF},
                      {0xFF, 0xFE, 0x00, 0x00},
                      {0x00, 0x00, 0xFF, 0xFE},
                      {0xFE, 0xFF, 0x00, 0x00},
                      {0x00, 0x00, 0x00, 0x3C},
                      {0x3C, 0x00, 0x00, 0x00},
                      {0x00, 0x00, 0x3C, 0x00},
                      {0x00, 0x3C, 0x00, 0x00},
                      {0x4C, 0x6F, 0xA7, 0x94}})
        if (StartsWith(D, ucs4)) return TForm::Unreadable;
    if (StartsWith(D, {0xFE, 0xFF}) || StartsWith(D, {0x00, 0x3C, 0x00, 0x3F})) return TForm::Utf16BE;
    if (StartsWith(D, {0xFF, 0xFE}) || StartsWith(D, {0x3C, 0x00, 0x3F, 0x00})) return TForm::Utf16LE;
    return TForm::Bytes;
}

std::vector<uint16_t> Units(std::string_view D, TForm Form) {
    std::vector<uint16_t> units;
    if (Form == TForm::Bytes) {
        units.assign(D.begin(), D.end());
        for (uint16_t& u : units) u &= 0xFF;
        return units;
    }
    units.reserve(D.size() / 2);
    for (size_t i = 0; i + 1 < D.size(); i += 2) {
        uint16_t a = static_cast<uint8_t>(D[i]), b = static_cast<uint8_t>(D[i + 1]);
        units.push_back(Form == TForm::Utf16LE ? uint16_t(a | (b << 8)) : uint16_t((a << 8) | b));
    }
    return units;
}

bool At(const std::vector<uint16_t>& U, size_t Pos, std::string_view Ascii) {
    if (Pos + Ascii.size() > U.size()) return false;
    for (size_t i = 0; i < Ascii.size(); ++i)
        if (U[Pos + i] != static_cast<uint8_t>(Ascii[i])) return false;
    return true;
}

size_t Find(const std::vector<uint16_t>& U, size_t From, std::string_view Ascii) {
    for (size_t i = From; i + Ascii.size() <= U.size(); ++i)
        if (At(U, i, Ascii)) return i;
    return std::string_view::npos;
}

}  // namespace

bool MayHoldDocumentType(std::string_view Document) {
    TForm form = DetectForm(Document);
    if (form == TForm::Unreadable) return true;
    std::vector<uint16_t> u = Units(Document, form);
    // Skips the constructs whose content may hold "<!" as plain text. One that
    // is never closed ends the scan: the parser refuses such a document anyway.
    struct TSkip {
        std::string_view Open, Close;
    };
    static const TSkip skips[] = {{"<?", "?>"}, {"<!--", "-->"}, {"<![CDATA[", "]]>"}};
    size_t i = 0;
    while (i < u.size()) {
        if (u[i] != '<') {
            ++i;
            continue;
        }
        bool skipped = false;
        for (const TSkip& s : skips) {
            if (!At(u, i, s.Open)) continue;
            size_t end = Find(u, i + s.Open.size(), s.Close);
            if (end == std::string_view::npos) return false;
            i = end + s.Close.size();
            skipped = true;
            break;
        }
        if (skipped) continue;
        if (At(u, i, "<!")) return true;
        ++i;
    }
    return false;
}

namespace {

bool IsSpace(uint16_t U) { return U == ' ' || U == '\t' || U == '\r' || U == '\n'; }

// Where the construct at I that may hold markup as text ends, or I when none starts there.
size_t SkipText(const std::vector<uint16_t>& U, size_t I) {
    static const std::pair<std::string_view, std::string_view> skips[] = {
        {"<?", "?>"}, {"<!--", "-->"}, {"<![CDATA[", "]]>"}};
    for (const auto& [open, close] : skips) {
        if (!At(U, I, open)) continue;
        size_t end = Find(U, I + open.size(), close);
        return end == std::string_view::npos ? U.size() : end + close.size();
    }
    return I;
}

// The tag named Name starting at I: "<Name" then a blank, "/" or ">".
bool TagAt(const std::vector<uint16_t>& U, size_t I, std::string_view Name) {
    size_t after = I + 1 + Name.size();
    return At(U, I, "<") && At(U, I + 1, Name) && after < U.size() &&
           (IsSpace(U[after]) || U[after] == '/' || U[after] == '>');
}

std::string Narrow(const std::vector<uint16_t>& U, size_t From, size_t To) {
    std::string text;
    for (size_t i = From; i < To; ++i) text += U[i] < 0x80 ? static_cast<char>(U[i]) : '?';
    return text;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ListedDigests(std::string_view Document) {
    TForm form = DetectForm(Document);
    std::vector<std::pair<std::string, std::string>> files;
    if (form == TForm::Unreadable) return files;
    std::vector<uint16_t> u = Units(Document, form);
    bool inList = false;
    for (size_t i = 0; i < u.size();) {
        if (size_t skipped = SkipText(u, i); skipped != i) {
            i = skipped;
            continue;
        }
        if (TagAt(u, i, "filesMD5List")) inList = true;
        if (At(u, i, "</filesMD5List")) inList = false;
        if (!inList || !TagAt(u, i, "file")) {
            ++i;
            continue;
        }
        // Its attributes, up to the end of the tag.
        std::string name, md5;
        size_t j = i + 5;
        while (j < u.size() && u[j] != '>') {
            if (IsSpace(u[j]) || u[j] == '/') {
                ++j;
                continue;
            }
            size_t key = j;
            while (j < u.size() && !IsSpace(u[j]) && u[j] != '=' && u[j] != '>') ++j;
            std::string attribute = Narrow(u, key, j);
            while (j < u.size() && IsSpace(u[j])) ++j;
            if (j >= u.size() || u[j] != '=') continue;
            ++j;
            while (j < u.size() && IsSpace(u[j])) ++j;
            if (j >= u.size() || (u[j] != '"' && u[j] != '\'')) break;
            const uint16_t quote = u[j++];
            size_t value = j;
            while (j < u.size() && u[j] != quote) ++j;
            if (attribute == "name") name = Narrow(u, value, j);
            if (attribute == "MD5") md5 = Narrow(u, value, j);
            ++j;
        }
        files.emplace_back(name, md5);
        i = j;
    }
    return files;
}
