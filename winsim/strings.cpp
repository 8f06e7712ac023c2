// The string functions of kernel32 and user32 that the installer uses in
// place of the C runtime. They are not logged as calls and take no faults:
// on Windows they cannot fail other than by bad pointers.
#include "internal.h"

#include <cstdarg>
#include <string>

using winsim::detail::IsLeadByte;

int WINAPI lstrlenA(LPCSTR lpString) {
    if (lpString == nullptr) return 0;
    int n = 0;
    while (lpString[n] != '\0') ++n;
    return n;
}

// Copies at most iMaxLength - 1 bytes and always terminates (for a positive
// length). Like Windows it copies bytes, without regard to double-byte
// characters, so a cut may split one; callers check lengths first.
LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
    if (lpString1 == nullptr || lpString2 == nullptr || iMaxLength <= 0) return lpString1;
    int i = 0;
    for (; i < iMaxLength - 1 && lpString2[i] != '\0'; ++i) lpString1[i] = lpString2[i];
    lpString1[i] = '\0';
    return lpString1;
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
    if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
    LPSTR end = lpString1 + lstrlenA(lpString1);
    while ((*end++ = *lpString2++) != '\0') {
    }
    return lpString1;
}

namespace {

int Compare(LPCSTR a, LPCSTR b, bool ignoreCase) {
    // Windows compares by the user's locale; for the ASCII names and
    // versions the installer compares, that is byte order with case folded.
    const std::string x = ignoreCase ? winsim::detail::FoldCase(a ? a : "") : std::string(a ? a : "");
    const std::string y = ignoreCase ? winsim::detail::FoldCase(b ? b : "") : std::string(b ? b : "");
    const int c = x.compare(y);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) { return Compare(lpString1, lpString2, true); }
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) { return Compare(lpString1, lpString2, false); }

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) { return IsLeadByte(TestChar) ? TRUE : FALSE; }

// A lead byte followed by the terminator counts as one byte, so the walk
// never steps over the end of the string.
LPSTR WINAPI CharNextA(LPCSTR lpsz) {
    if (*lpsz == '\0') return const_cast<LPSTR>(lpsz);
    if (IsLeadByte(static_cast<unsigned char>(*lpsz)) && lpsz[1] != '\0')
        return const_cast<LPSTR>(lpsz + 2);
    return const_cast<LPSTR>(lpsz + 1);
}

// Walks forward from the start, since a trail byte cannot be told from a
// lead byte when looking backwards.
LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
    if (lpszCurrent <= lpszStart) return const_cast<LPSTR>(lpszStart);
    LPCSTR p = lpszStart;
    for (;;) {
        LPCSTR next = CharNextA(p);
        if (next >= lpszCurrent || next == p) return const_cast<LPSTR>(p);
        p = next;
    }
}

// user32's wsprintfA: %[-][0][width][.precision][l|h] with c d i u x X s and
// %%. It writes at most 1024 characters including the terminator, as the
// Windows documentation states, and returns the count without it. Numbers
// are read as 32-bit values, which is what "l" means on Windows.
int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    const size_t kLimit = 1024;
    std::string out;
    va_list args;
    va_start(args, lpFmt);
    for (const char *f = lpFmt; *f && out.size() < kLimit - 1; ++f) {
        if (*f != '%') {
            out.push_back(*f);
            continue;
        }
        ++f;
        bool left = false, zero = false;
        for (; *f == '-' || *f == '0'; ++f) (*f == '-' ? left : zero) = true;
        size_t width = 0;
        for (; *f >= '0' && *f <= '9'; ++f) width = width * 10 + static_cast<size_t>(*f - '0');
        bool hasPrecision = false;
        size_t precision = 0;
        if (*f == '.') {
            hasPrecision = true;
            for (++f; *f >= '0' && *f <= '9'; ++f) precision = precision * 10 + static_cast<size_t>(*f - '0');
        }
        if (*f == 'l' || *f == 'h') ++f;
        std::string field;
        bool numeric = true;
        switch (*f) {
        case 'd':
        case 'i': {
            const int v = va_arg(args, int);
            const unsigned magnitude = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
            field = std::to_string(magnitude);
            if (hasPrecision && field.size() < precision) field.insert(0, precision - field.size(), '0');
            if (v < 0) field.insert(0, 1, '-');
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            unsigned v = va_arg(args, unsigned);
            const char *digits = *f == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            const unsigned base = *f == 'u' ? 10 : 16;
            do {
                field.insert(0, 1, digits[v % base]);
                v /= base;
            } while (v != 0);
            if (hasPrecision && field.size() < precision) field.insert(0, precision - field.size(), '0');
            break;
        }
        case 'c':
            field.push_back(static_cast<char>(va_arg(args, int)));
            numeric = false;
            break;
        case 's': {
            const char *s = va_arg(args, const char *);
            field = s ? s : "(null)";
            if (hasPrecision && field.size() > precision) field.resize(precision);
            numeric = false;
            break;
        }
        case '%':
            field = "%";
            numeric = false;
            break;
        default:  // an unknown conversion is copied as it stands
            if (*f == '\0') --f;
            else field.push_back(*f);
            numeric = false;
            break;
        }
        if (field.size() < width) {
            const size_t pad = width - field.size();
            if (left) {
                field.append(pad, ' ');
            } else if (zero && numeric) {
                const size_t at = (!field.empty() && field[0] == '-') ? 1 : 0;
                field.insert(at, pad, '0');
            } else {
                field.insert(0, pad, ' ');
            }
        }
        out += field;
    }
    va_end(args);
    if (out.size() > kLimit - 1) out.resize(kLimit - 1);
    out.copy(lpOut, out.size());
    lpOut[out.size()] = '\0';
    return static_cast<int>(out.size());
}
