#include "support/VersionText.h"

#include <limits>

#include "support/TextUtils.h"

std::string RevisionFromText(const std::string& Value) {
    std::string text;
    for (char c : Value)
        if (c != '$') text += c;
    size_t blank = text.find(' ');
    if (blank != std::string::npos) text = text.substr(blank + 1);
    return TrimControl(text);
}

int32_t StrToIntDef(const std::string& Text, int32_t Default) {
    size_t i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
    if (i == Text.size()) return Default;
    int64_t value = 0;
    for (; i < Text.size(); ++i) {
        char c = Text[i];
        if (c < '0' || c > '9') return Default;
        value = value * 10 + (c - '0');
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1) return Default;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) return Default;
    return static_cast<int32_t>(value);
}

int32_t VersionNumberFrom(const std::string& ProductVersion, const std::string& Revision) {
    size_t dot = ProductVersion.find('.');
    std::string major, minor;
    if (dot == std::string::npos) {
        minor = ProductVersion;
    } else {
        major = ProductVersion.substr(0, dot);
        minor = ProductVersion.substr(dot + 1);
    }
    int64_t number =
        int64_t(StrToIntDef(major, 0)) * 1000000 + int64_t(StrToIntDef(minor, 0)) * 10000 + StrToIntDef(Revision, 0);
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}
