#include "formats/regedit4.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace formats {
namespace {

bool IsLead(LeadByteTest isLead, char c) { return isLead && isLead(static_cast<unsigned char>(c)); }

// ---- REGEDIT4 text: reading ----------------------------------------------

const char kHeader4[] = "REGEDIT4";
const char kHeader5[] = "Windows Registry Editor Version 5.00";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to eight hex digits and nothing else.
bool ParseHexNumber(const std::string &text, std::uint32_t *number) {
    if (text.empty() || text.size() > 8) return false;
    std::uint32_t result = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0) return false;
        result = (result << 4) | static_cast<std::uint32_t>(digit);
    }
    *number = result;
    return true;
}

// What is left of a value's data once a trailing ";" comment is dropped.
std::string WithoutComment(const std::string &text) {
    return Trim(text.substr(0, text.find(';')));
}

// UTF-16LE narrowed to ANSI, for version 5 files. Characters up to U+00FF
// become the byte of the same value (Latin-1, which is code page 1252 but
// for 0x80-0x9F); anything beyond has no single-byte form here.
bool Narrow(const std::string &wide, std::string *narrow, std::string *why) {
    if (wide.size() % 2) {
        *why = "odd number of bytes in UTF-16 text";
        return false;
    }
    narrow->clear();
    for (size_t i = 0; i < wide.size(); i += 2) {
        unsigned unit = static_cast<unsigned char>(wide[i]) |
                        (static_cast<unsigned>(static_cast<unsigned char>(wide[i + 1])) << 8);
        if (unit > 0xFF) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "character U+%04X has no ANSI form", unit);
            *why = buffer;
            return false;
        }
        *narrow += static_cast<char>(unit);
    }
    return true;
}

class Parser {
public:
    Parser(std::vector<RegTextKey> *keys, LeadByteTest isLead) : keys_(keys), isLead_(isLead) {}

    bool Run(const std::string &text, std::string *error) {
        if (!Split(text)) return Report(error);
        if (lines_.empty() || (Trim(lines_[0]) != kHeader4 && Trim(lines_[0]) != kHeader5)) {
            Fail(1, "the first line is not REGEDIT4");
            return Report(error);
        }
        unicode_ = Trim(lines_[0]) == kHeader5;
        next_ = 1;
        while (next_ < lines_.size()) {
            const size_t number = next_ + 1;
            const std::string line = Trim(lines_[next_++]);
            bool ok = true;
            if (line.empty() || line[0] == ';' || line[0] == '#') continue;
            if (line[0] == '[') {
                ok = KeyLine(line, number);
            } else if (line[0] == '"' || line[0] == '@') {
                ok = ValueLine(line, number);
            } else {
                ok = Fail(number, "neither a key, a value nor a comment");
            }
            if (!ok) return Report(error);
        }
        return true;
    }

private:
    bool Fail(size_t line, const std::string &reason) {
        error_ = "line " + std::to_string(line) + ": " + reason;
        return false;
    }

    bool Report(std::string *error) const {
        if (error) *error = error_;
        return false;
    }

    // Lines without their CR; a UTF-16 file (it starts with the byte-order
    // mark) is narrowed first, a UTF-8 byte-order mark dropped.
    bool Split(const std::string &raw) {
        std::string text = raw;
        if (text.compare(0, 2, "\xFF\xFE") == 0) {
            std::string narrow, why;
            size_t line = 1;
            for (size_t i = 2; i < text.size(); i += 2) {
                std::string unit;
                if (!Narrow(text.substr(i, 2), &unit, &why)) return Fail(line, why);
                if (unit == "\n") ++line;
                narrow += unit;
            }
            text = narrow;
        } else if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            text.erase(0, 3);
        }
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines_.push_back(line);
        }
        return true;
    }

    // "[path]" names the key values go to; "[-path]" deletes the key and its
    // tree, and the values after it are ignored.
    bool KeyLine(const std::string &line, size_t number) {
        if (line.back() != ']') return Fail(number, "key name without closing ]");
        RegTextKey key;
        key.line = number;
        key.path = line.substr(1, line.size() - 2);
        key.remove = !key.path.empty() && key.path[0] == '-';
        if (key.remove) key.path.erase(0, 1);
        keys_->push_back(key);
        return true;
    }

    // A quoted string from line[*pos] (the opening quote), with the escapes
    // \\ and \" (and \n, \0 in version 5 files).
    bool Quoted(const std::string &line, size_t *pos, std::string *out, std::string *why) const {
        out->clear();
        for (size_t i = *pos + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (IsLead(isLead_, c) && i + 1 < line.size()) {
                *out += c;
                *out += line[++i];
            } else if (c == '"') {
                *pos = i + 1;
                return true;
            } else if (c == '\\' && i + 1 < line.size()) {
                const char escaped = line[++i];
                if (escaped == '\\' || escaped == '"') {
                    *out += escaped;
                } else if (unicode_ && escaped == 'n') {
                    *out += '\n';
                } else if (unicode_ && escaped == '0') {
                    *out += '\0';
                } else {
                    *why = std::string("unknown escape \\") + escaped;
                    return false;
                }
            } else {
                *out += c;
            }
        }
        *why = "missing closing quote";
        return false;
    }

    bool ValueLine(const std::string &line, size_t number) {
        std::string name, why;
        size_t pos = 1;
        if (line[0] == '"') {
            pos = 0;
            if (!Quoted(line, &pos, &name, &why)) return Fail(number, "value name: " + why);
        }
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != '=')
            return Fail(number, "expected = after the value name");
        const std::string data = Trim(line.substr(pos + 1));

        std::uint32_t type = kRegSz;
        std::string bytes;
        bool remove = false;
        if (data == "-") {
            remove = true;
        } else if (!data.empty() && data[0] == '"') {
            size_t end = 0;
            if (!Quoted(data, &end, &bytes, &why)) return Fail(number, "value data: " + why);
            if (!WithoutComment(data.substr(end)).empty())
                return Fail(number, "text after the closing quote");
            bytes += '\0';
        } else if (data.compare(0, 6, "dword:") == 0) {
            std::uint32_t number32 = 0;
            if (!ParseHexNumber(WithoutComment(data.substr(6)), &number32))
                return Fail(number, "dword: wants one to eight hex digits");
            type = kRegDword;
            for (int i = 0; i < 4; ++i) bytes += static_cast<char>((number32 >> (8 * i)) & 0xFF);
        } else if (data.compare(0, 3, "hex") == 0) {
            if (!HexValue(data, number, &type, &bytes)) return false;
        } else {
            return Fail(number, "value data is neither \"text\", dword:, hex: nor -");
        }

        if (keys_->empty()) return Fail(number, "value before any [key] line");
        RegTextKey &key = keys_->back();
        if (key.remove) return true;  // regedit ignores the values of a deleted key
        key.values.push_back(RegTextValue{name, type, bytes, remove});
        return true;
    }

    // "hex:" (REG_BINARY) or "hex(N):" with a list of bytes that may go on
    // over lines ending in a backslash.
    bool HexValue(std::string data, size_t number, std::uint32_t *type, std::string *bytes) {
        size_t colon = data.find(':');
        if (colon == std::string::npos) return Fail(number, "hex data without a colon");
        const std::string tag = data.substr(0, colon);
        *type = kRegBinary;
        if (tag != "hex") {
            if (tag.size() < 6 || tag.compare(0, 4, "hex(") != 0 || tag.back() != ')' ||
                !ParseHexNumber(tag.substr(4, tag.size() - 5), type))
                return Fail(number, "hex type must be written hex(N) with N in hex");
        }
        std::string list = Trim(data.substr(colon + 1));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (next_ >= lines_.size()) return Fail(number, "hex list goes on past the end");
            list += Trim(lines_[next_++]);
        }
        list = WithoutComment(list);
        bytes->clear();
        if (!list.empty()) {
            std::istringstream items(list);
            for (std::string item; std::getline(items, item, ',');) {
                std::uint32_t byte = 0;
                item = Trim(item);
                if (item.size() > 2 || !ParseHexNumber(item, &byte))
                    return Fail(number, "\"" + item + "\" is not a hex byte");
                *bytes += static_cast<char>(byte);
            }
            if (list.back() == ',') return Fail(number, "hex list ends in a comma");
        }
        // Version 5 files hold the string types in UTF-16.
        if (unicode_ && (*type == kRegSz || *type == kRegExpandSz || *type == kRegMultiSz)) {
            std::string narrow, why;
            if (!Narrow(*bytes, &narrow, &why)) return Fail(number, why);
            *bytes = narrow;
        }
        return true;
    }

    std::vector<std::string> lines_;
    size_t next_ = 0;         // index of the next line to read
    bool unicode_ = false;    // a version 5 file
    std::vector<RegTextKey> *keys_;
    LeadByteTest isLead_;
    std::string error_;
};

// ---- REGEDIT4 text: writing ------------------------------------------------

// Backslash and double quote escaped; a trail byte is never taken for one.
std::string Quote(const std::string &text, LeadByteTest isLead) {
    std::string quoted = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsLead(isLead, c) && i + 1 < text.size()) {
            quoted += c;
            quoted += text[++i];
            continue;
        }
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

// A REG_SZ is written as "text" only when reading that back gives the same
// bytes: a single terminator at the end and no control characters (regedit
// would write a line break as it stands), and no lead byte last, which the
// reader would pair with the closing quote. Other strings go out as hex(1).
bool IsPlainString(const std::string &data, LeadByteTest isLead) {
    if (data.empty() || data.back() != '\0') return false;
    const size_t length = data.size() - 1;
    if (std::any_of(data.begin(), data.end() - 1,
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (IsLead(isLead, data[i])) {
            if (i + 1 == length) return false;
            ++i;  // the trail byte, as Quote steps over it
        }
    }
    return true;
}

std::string Hex(std::uint32_t number, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[number & 0xF]);
        number >>= 4;
    } while (number || static_cast<int>(text.size()) < digits);
    return text;
}

}  // namespace

bool ParseRegText(const std::string &text, std::vector<RegTextKey> *keys, std::string *error,
                  LeadByteTest isLead) {
    keys->clear();
    return Parser(keys, isLead).Run(text, error);
}

std::string FormatRegValue(const RegTextValue &value, LeadByteTest isLead) {
    std::string line = value.name.empty() ? "@" : Quote(value.name, isLead);
    line += '=';
    const std::string &data = value.data;
    if (value.type == kRegSz && IsPlainString(data, isLead)) {
        return line + Quote(data.substr(0, data.size() - 1), isLead);
    }
    if (value.type == kRegDword && data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
        return line + "dword:" + Hex(number, 8);
    }
    line += value.type == kRegBinary ? std::string("hex:") : "hex(" + Hex(value.type, 1) + "):";
    for (size_t i = 0; i < data.size(); ++i) {
        if (i) line += ',';
        line += Hex(static_cast<unsigned char>(data[i]), 2);
    }
    return line;
}

std::string WriteRegText(const std::vector<RegTextKey> &keys, const char *newline, LeadByteTest isLead) {
    std::string text = std::string(kHeader4) + newline + newline;
    for (const RegTextKey &key : keys) {
        text += '[' + key.path + ']' + newline;
        for (const RegTextValue &value : key.values) text += FormatRegValue(value, isLead) + newline;
        text += newline;
    }
    return text;
}

}  // namespace formats
