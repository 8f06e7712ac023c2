// Resources of the program's module: loaded from the .res file that windres
// compiles from the installer's resource script, so the host tests see the
// same string table, dialog and raw data as the PE. Only integer types and
// ids are modelled (the installer names none by string); of several languages
// of one resource the first in the file wins, as for a US English system.
#include "internal.h"

#include "formats/pe_resources.h"
#include "formats/res_file.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace winsim {
namespace {

struct Resource {
    std::string bytes;
};

using Key = std::pair<WORD, WORD>;  // type, id

std::map<Key, Resource> &Table() {
    static std::map<Key, Resource> table;
    return table;
}

// The module handle the simulated program gets; any non-null value serves.
HINSTANCE TheModule() { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000)); }

class Reader {
public:
    explicit Reader(const std::string &bytes) : bytes_(bytes) {}
    bool Word(WORD *out) {
        if (pos_ + 2 > bytes_.size()) return false;
        *out = static_cast<WORD>(Byte(pos_) | (Byte(pos_ + 1) << 8));
        pos_ += 2;
        return true;
    }
    bool Dword(DWORD *out) {
        WORD lo, hi;
        if (!Word(&lo) || !Word(&hi)) return false;
        *out = lo | (static_cast<DWORD>(hi) << 16);
        return true;
    }
    bool Short(short *out) {
        WORD w;
        if (!Word(&w)) return false;
        *out = static_cast<short>(w);
        return true;
    }
    // A name or ordinal: 0xFFFF then the ordinal, or a zero-terminated UTF-16
    // string. Ordinal 0 with an empty string means "none".
    bool NameOrOrdinal(WORD *ordinal, std::string *name) {
        WORD first;
        if (!Word(&first)) return false;
        *ordinal = 0;
        name->clear();
        if (first == 0xFFFF) return Word(ordinal);
        WORD ch = first;
        while (ch != 0) {
            name->push_back(ch < 0x100 ? static_cast<char>(ch) : '?');
            if (!Word(&ch)) return false;
        }
        return true;
    }
    bool Text(std::string *out) {
        WORD ordinal;
        return NameOrOrdinal(&ordinal, out);
    }
    void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<size_t>(3); }
    size_t Pos() const { return pos_; }
    void Seek(size_t pos) { pos_ = pos; }
    size_t Size() const { return bytes_.size(); }

private:
    unsigned Byte(size_t at) const { return static_cast<unsigned char>(bytes_[at]); }
    const std::string &bytes_;
    size_t pos_ = 0;
};

// UTF-16 code unit to the machine's ANSI code page. The installer's texts are
// ASCII; code page 1252 is taken as Latin-1, anything else becomes "?".
char ToAnsi(WORD ch) {
    if (ch < 0x80) return static_cast<char>(ch);
    if (ch < 0x100 && GetCodePage() == 1252) return static_cast<char>(ch);
    return '?';
}

// The strings of one string-table block: 16 counted UTF-16 strings.
bool FindString(UINT id, std::string *out) {
    auto it = Table().find(Key{6, static_cast<WORD>((id >> 4) + 1)});
    if (it == Table().end()) return false;
    Reader reader(it->second.bytes);
    for (UINT index = 0; index <= (id & 15); ++index) {
        WORD length;
        if (!reader.Word(&length)) return false;
        if (index == (id & 15)) {
            if (length == 0) return false;
            out->clear();
            for (WORD i = 0; i < length; ++i) {
                WORD ch;
                if (!reader.Word(&ch)) return false;
                out->push_back(ToAnsi(ch));
            }
            return true;
        }
        reader.Seek(reader.Pos() + 2u * length);
    }
    return false;
}

void PutString(UINT id, const std::string *text) {
    const Key key{6, static_cast<WORD>((id >> 4) + 1)};
    std::vector<std::u16string> strings(16);
    auto it = Table().find(key);
    if (it != Table().end()) {
        Reader reader(it->second.bytes);
        for (std::u16string &s : strings) {
            WORD length;
            if (!reader.Word(&length)) break;
            for (WORD i = 0; i < length; ++i) {
                WORD ch = 0;
                reader.Word(&ch);
                s.push_back(static_cast<char16_t>(ch));
            }
        }
    }
    strings[id & 15].clear();
    if (text) {
        for (char c : *text) strings[id & 15].push_back(static_cast<unsigned char>(c));
    }
    std::string bytes;
    for (const std::u16string &s : strings) {
        bytes.push_back(static_cast<char>(s.size() & 0xFF));
        bytes.push_back(static_cast<char>(s.size() >> 8));
        for (char16_t ch : s) {
            bytes.push_back(static_cast<char>(ch & 0xFF));
            bytes.push_back(static_cast<char>(ch >> 8));
        }
    }
    Table()[key].bytes = bytes;
}

std::string IdText(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return std::to_string(reinterpret_cast<uintptr_t>(name));
    return name;
}

}  // namespace

bool LoadResFile(const std::string &path) {
    std::vector<formats::ResEntry> entries;
    if (!formats::ReadResFile(path, entries)) return false;
    std::map<Key, Resource> loaded;
    for (formats::ResEntry &entry : entries) {
        const Key key{entry.type, entry.id};
        if (loaded.find(key) == loaded.end()) loaded[key].bytes = std::move(entry.bytes);
    }
    for (auto &entry : loaded) Table()[entry.first] = entry.second;
    return true;
}

bool LoadProgramResources(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    const auto resources = formats::ReadResources(image, &error);
    if (!resources) return false;
    Table().clear();
    for (const formats::Resource &r : *resources) {
        if (!r.type.name.empty() || !r.name.name.empty() || r.type.id > 0xFFFF || r.name.id > 0xFFFF) continue;
        const Key key{static_cast<WORD>(r.type.id), static_cast<WORD>(r.name.id)};
        if (Table().find(key) == Table().end()) Table()[key].bytes = r.bytes;
    }
    return true;
}

void SetString(UINT id, const std::string &text) { PutString(id, &text); }
void RemoveString(UINT id) { PutString(id, nullptr); }

void SetResource(WORD type, WORD id, const std::string &bytes) { Table()[Key{type, id}].bytes = bytes; }
void RemoveResource(WORD type, WORD id) { Table().erase(Key{type, id}); }

bool GetResource(WORD type, WORD id, std::string *bytes) {
    auto it = Table().find(Key{type, id});
    if (it == Table().end()) return false;
    *bytes = it->second.bytes;
    return true;
}

HINSTANCE ModuleInstance() { return TheModule(); }

bool ParseDialogTemplate(const std::string &bytes, DialogTemplate *out) {
    Reader reader(bytes);
    DialogTemplate dialog;
    WORD count, menu, classOrdinal;
    std::string menuName, className;
    if (!reader.Dword(&dialog.style) || !reader.Dword(&dialog.exStyle) || !reader.Word(&count) ||
        !reader.Short(&dialog.x) || !reader.Short(&dialog.y) || !reader.Short(&dialog.cx) ||
        !reader.Short(&dialog.cy))
        return false;
    if (!reader.NameOrOrdinal(&menu, &menuName) || !reader.NameOrOrdinal(&classOrdinal, &className) ||
        !reader.Text(&dialog.caption))
        return false;
    const DWORD DS_SETFONT_FLAG = 0x40;
    if (dialog.style & DS_SETFONT_FLAG) {
        if (!reader.Word(&dialog.pointSize) || !reader.Text(&dialog.font)) return false;
    }
    for (WORD i = 0; i < count; ++i) {
        DialogItem item;
        DWORD exStyle;
        WORD textOrdinal, extra;
        reader.AlignDword();
        if (!reader.Dword(&item.style) || !reader.Dword(&exStyle) || !reader.Short(&item.x) ||
            !reader.Short(&item.y) || !reader.Short(&item.cx) || !reader.Short(&item.cy) ||
            !reader.Word(&item.id))
            return false;
        if (!reader.NameOrOrdinal(&item.classAtom, &item.className) ||
            !reader.NameOrOrdinal(&textOrdinal, &item.text) || !reader.Word(&extra))
            return false;
        if (extra > reader.Size() - reader.Pos()) return false;
        reader.Seek(reader.Pos() + extra);
        dialog.items.push_back(item);
    }
    *out = dialog;
    return true;
}

namespace detail {
void ResetResources() { Table().clear(); }
}  // namespace detail

}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (Enter("GetModuleHandleA", lpModuleName ? lpModuleName : "")) return nullptr;
    if (lpModuleName == nullptr) return winsim::TheModule();
    SetError(ERROR_FILE_NOT_FOUND);  // no other module is loaded
    return nullptr;
}

// Windows: the buffer receives at most cchBufferMax - 1 characters and a
// terminator; an absent string (or an empty one, which the table cannot tell
// apart) returns 0.
int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    if (Enter("LoadStringA", std::to_string(uID))) return 0;
    if (hInstance != winsim::TheModule() || lpBuffer == nullptr || cchBufferMax <= 0) {
        SetError(hInstance != winsim::TheModule() ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text;
    if (!winsim::FindString(uID, &text)) {
        lpBuffer[0] = '\0';
        SetError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const size_t n = std::min(text.size(), static_cast<size_t>(cchBufferMax - 1));
    text.copy(lpBuffer, n);
    lpBuffer[n] = '\0';
    return static_cast<int>(n);
}

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    if (Enter("FindResourceA", winsim::IdText(lpName))) return nullptr;
    if ((hModule != nullptr && hModule != winsim::TheModule()) || !IS_INTRESOURCE(lpName) ||
        !IS_INTRESOURCE(lpType)) {
        SetError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const winsim::Key key{static_cast<WORD>(reinterpret_cast<uintptr_t>(lpType)),
                          static_cast<WORD>(reinterpret_cast<uintptr_t>(lpName))};
    auto it = winsim::Table().find(key);
    if (it == winsim::Table().end()) {
        SetError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(&it->second);
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    if (Enter("LoadResource")) return nullptr;
    (void)hModule;
    if (hResInfo == nullptr) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(hResInfo);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
    if (Enter("LockResource")) return nullptr;
    if (hResData == nullptr) return nullptr;
    auto *resource = reinterpret_cast<winsim::Resource *>(hResData);
    return resource->bytes.empty() ? nullptr : &resource->bytes[0];
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    if (Enter("SizeofResource")) return 0;
    (void)hModule;
    if (hResInfo == nullptr) {
        SetError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(reinterpret_cast<winsim::Resource *>(hResInfo)->bytes.size());
}
