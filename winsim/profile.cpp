// Profile sections of real INI files on the simulated drives: reading a
// section's lines and replacing a section whole. A file name without a
// directory lies in the Windows directory, as on both platforms.
//
// A file is lines ending in "\r\n" or "\n". A line whose first non-blank
// character is "[" and that holds a "]" starts a section named by what lies
// between them, blanks trimmed ("[broken" is an ordinary line, as in Wine);
// names compare without regard to case, and the first section of a name is
// the one read and replaced. Not modelled: the profile cache of both
// systems (every call reads the file), WIN.INI mapping to the registry on
// NT, Unicode files, the 64 KB limit of Windows 95.
#include "internal.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace winsim {
namespace {

// Ctrl-Z, the old end-of-file mark, counts as a blank, as in Wine.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == '\x1a';
}

std::string TrimStart(const std::string &text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    return text.substr(begin);
}

std::string Trim(const std::string &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// The file's lines, each with its own line end (the last may have none).
std::vector<std::string> SplitLines(const std::string &content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        end = end == std::string::npos ? content.size() : end + 1;
        lines.push_back(content.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The section a line starts, or false when it is no section header.
bool SectionName(const std::string &line, std::string *name) {
    const std::string text = Trim(line);
    if (text.empty() || text[0] != '[') return false;
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    *name = Trim(text.substr(1, close - 1));
    return true;
}

// Index of the header line of the first section called `section`, or -1.
long FindSection(const std::vector<std::string> &lines, const std::string &section) {
    const std::string wanted = detail::FoldCase(Trim(section));
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i)
        if (SectionName(lines[i], &name) && detail::FoldCase(name) == wanted)
            return static_cast<long>(i);
    return -1;
}

// The end of a section's lines: the next header, or the end of the file.
size_t SectionEnd(const std::vector<std::string> &lines, size_t header) {
    std::string name;
    size_t end = header + 1;
    while (end < lines.size() && !SectionName(lines[end], &name)) ++end;
    return end;
}

// A name without a directory names a file in the Windows directory. Asking
// for that directory makes sure it exists, as it always does on a real
// machine, also for a profile named by its full path.
std::string ProfilePath(const std::string &file) {
    const std::string windows = detail::WindowsDirectory();
    if (file.find_first_of("\\/:") != std::string::npos) return file;
    return windows + "\\" + file;
}

// The section's lines as GetPrivateProfileSectionA returns them under Wine
// (a probe decided): blank lines and ";" comments (also indented ones, also
// ";x=y") left out, blanks around the key and the value trimmed ("key = value"
// gives "key=value"), a line without "=" ("# note", "[broken") trimmed and
// kept.
std::vector<std::string> SectionLines(const std::string &content, const std::string &section) {
    std::vector<std::string> result;
    const std::vector<std::string> lines = SplitLines(content);
    const long header = FindSection(lines, section);
    if (header < 0) return result;
    const size_t end = SectionEnd(lines, static_cast<size_t>(header));
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        const size_t equals = line.find('=');
        result.push_back(equals == std::string::npos
                             ? line
                             : Trim(line.substr(0, equals)) + "=" + Trim(line.substr(equals + 1)));
    }
    return result;
}

bool ReadHostFile(const std::string &host, std::string *content) {
    std::ifstream in(host, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    *content = text.str();
    return true;
}

// The whole file through an open handle's descriptor.
bool ReadDescriptor(int fd, std::string *content) {
    content->clear();
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got < 0) return false;
        if (got == 0) return true;
        content->append(buffer, static_cast<size_t>(got));
        at += got;
    }
}

bool WriteDescriptor(int fd, const std::string &content) {
    if (::ftruncate(fd, 0) != 0) return false;
    for (size_t done = 0; done < content.size();) {
        const ssize_t put = ::pwrite(fd, content.data() + done, content.size() - done,
                                     static_cast<off_t>(done));
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

// The section's new text from a NUL-separated list ended by an empty
// string, as Wine writes it (a probe decided): a string without "=" (a
// comment, a note) is dropped; the others are written "key=value" with the
// blanks before the key and before the value taken off and those after
// either kept (" a = b " gives "a =b "), each ended by "\r\n". A ";x=y"
// string is written, and later reads leave it out as a comment.
std::string SectionText(const char *list) {
    std::string text;
    for (const char *line = list; *line; line += std::strlen(line) + 1) {
        const std::string entry = line;
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) continue;
        text += TrimStart(entry.substr(0, equals)) + "=" + TrimStart(entry.substr(equals + 1));
        text += "\r\n";
    }
    return text;
}

std::string CallArgument(const char *file, const char *section) {
    return std::string(file ? file : "") + " [" + (section ? section : "") + "]";
}

}  // namespace

namespace detail {

bool ReadProfileSection(const std::string &file, const std::string &section,
                        std::vector<std::string> *lines) {
    FileLookup lookup;
    DWORD error = 0;
    std::string content;
    if (!LookUpPath(ProfilePath(file), &lookup, &error) || !lookup.exists || lookup.isDir ||
        !ReadHostFile(lookup.host, &content))
        return false;
    *lines = SectionLines(content, section);
    return true;
}

}  // namespace detail
}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// NT and 95: the section's lines (see SectionLines) as "line\0line\0\0". The
// result counts what was copied without the last NUL. When the lines do not
// fit, the last one is cut short, two NULs end the buffer and the result is
// nSize - 2, as documented; a buffer of one character gets one NUL and 0.
// A missing file or section gives an empty list and 0 (the file's absence
// sets ERROR_FILE_NOT_FOUND); no section name, no file name or no buffer
// ERROR_INVALID_PARAMETER. The call log and faults see "file [section]".
DWORD WINAPI GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize,
                                       LPCSTR lpFileName) {
    if (Enter("GetPrivateProfileSectionA", winsim::CallArgument(lpFileName, lpAppName))) return 0;
    if (!lpAppName || !lpFileName || !lpReturnedString)
        return SetError(ERROR_INVALID_PARAMETER), 0;
    if (nSize == 0) return 0;
    std::vector<std::string> lines;
    if (!winsim::detail::ReadProfileSection(lpFileName, lpAppName, &lines))
        SetError(ERROR_FILE_NOT_FOUND);
    std::string list;
    for (const std::string &line : lines) list += line + '\0';
    list += '\0';
    if (list.size() == 1) list += '\0';  // an empty list is two NULs where they fit
    if (list.size() <= nSize) {
        list.copy(lpReturnedString, list.size());
        return lines.empty() ? 0 : static_cast<DWORD>(list.size() - 1);
    }
    if (nSize < 2) {
        lpReturnedString[0] = '\0';
        return 0;
    }
    list.copy(lpReturnedString, nSize - 2);
    lpReturnedString[nSize - 2] = '\0';
    lpReturnedString[nSize - 1] = '\0';
    return nSize - 2;
}

// NT and 95: replaces the lines of the section, comments and all, with the
// strings of lpString (NUL-separated, ended by an empty string) as
// SectionText writes them: a string without "=" is lost, so a section read
// with GetPrivateProfileSectionA and written back keeps its "key=value"
// lines (normalised) and loses its comments and other lines, as under Wine.
// The header line and the blank lines that close the old section stay;
// every other byte of the file stays as it was (Wine rewrites the whole file
// in its own form, without blank lines; Windows does not). A missing section
// is added at the end of the file, a missing file is created. A NULL
// lpString deletes the section, header and all (as in Wine). The file is
// opened for writing as CreateFileA would, so a read-only file gives
// ERROR_ACCESS_DENIED and stays as it was, whatever the call would have
// written (a probe under Wine, run as a user other than root, decided; root
// writes through the attribute there), a missing directory
// ERROR_PATH_NOT_FOUND and a file open without shared writing
// ERROR_SHARING_VIOLATION. No section or file name: ERROR_INVALID_PARAMETER.
BOOL WINAPI WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
    if (Enter("WritePrivateProfileSectionA", winsim::CallArgument(lpFileName, lpAppName)))
        return FALSE;
    if (!lpAppName || !lpFileName) return SetError(ERROR_INVALID_PARAMETER), FALSE;
    HANDLE file = winsim::detail::OpenFileQuietly(winsim::ProfilePath(lpFileName),
                                                  GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                  OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    const int fd = winsim::detail::HostDescriptor(file);
    std::string content;
    if (!winsim::ReadDescriptor(fd, &content)) {
        winsim::detail::CloseFileQuietly(file);
        return SetError(ERROR_READ_FAULT), FALSE;
    }

    std::vector<std::string> lines = winsim::SplitLines(content);
    const long header = winsim::FindSection(lines, lpAppName);
    if (header < 0 && !lpString) {
        winsim::detail::CloseFileQuietly(file);
        return SetError(ERROR_SUCCESS), TRUE;
    }
    std::string updated;
    if (header < 0) {
        updated = content;
        if (!updated.empty() && updated.back() != '\n') updated += "\r\n";
        updated += std::string("[") + lpAppName + "]\r\n" + winsim::SectionText(lpString);
    } else {
        const size_t first = static_cast<size_t>(header);
        const size_t end = winsim::SectionEnd(lines, first);
        size_t keptFrom = end;  // the blank lines before the next section stay
        while (keptFrom > first + 1 && winsim::Trim(lines[keptFrom - 1]).empty()) --keptFrom;
        for (size_t i = 0; i < first; ++i) updated += lines[i];
        if (lpString) {
            updated += lines[first];
            if (updated.back() != '\n') updated += "\r\n";
            updated += winsim::SectionText(lpString);
            for (size_t i = keptFrom; i < end; ++i) updated += lines[i];
        }
        for (size_t i = end; i < lines.size(); ++i) updated += lines[i];
    }
    const bool written = winsim::WriteDescriptor(fd, updated);
    winsim::detail::CloseFileQuietly(file);
    if (!written) return SetError(ERROR_WRITE_FAULT), FALSE;
    SetError(ERROR_SUCCESS);
    return TRUE;
}
