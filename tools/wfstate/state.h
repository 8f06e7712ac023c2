// The machine state after a run, in the one text form that a Wine prefix and
// a winsim machine are both reduced to (see README.md), and the pieces it is
// made of.
#ifndef WFSTATE_STATE_H
#define WFSTATE_STATE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wfstate {

// The short name Wine gives a long name on a Unix file system: the first
// four characters, '~' and three characters of a hash of the name, and the
// first three characters of the extension ("Program Files" -> "PROG~FBU").
std::string WineShortName(const std::string &longName);

// Resolves the short components of a Windows path ("C:\PROG~FBU\Quenmark\x")
// against the host folder of drive C:, one folder at a time: a component
// that is no entry of its folder is taken for the short name of the entry
// whose Wine short name it is, or else of the one entry whose name begins
// with the characters before the '~' (winsim's "PROGRA~1"). Components that
// resolve to nothing are kept as written. Paths on other drives, and "\??\"
// and "!" prefixes, pass through (the prefixes are kept).
std::string ExpandShortPath(const std::string &driveC, const std::string &winPath);

// "# files": every file under Program Files\Quenmark and Quenmark, and
// WININIT.INI/WININIT.BAK of the Windows directory, lower-cased, relative
// to C:\, "/" separators, sorted; "path size crc". The WININIT files list
// their lines in "# wininit" instead of a size and CRC, since the paths in
// them are the machine's own short names.
std::string FilesSection(const std::string &driveC, const std::string &windowsDirName);

// "# wininit": the lines of WININIT.INI and WININIT.BAK, their paths
// normalised by `expand` and lower-cased, under "[<file>]".
std::string WininitSection(const std::string &driveC, const std::string &windowsDirName,
                           const std::function<std::string(const std::string &)> &expand);

// One shown message box.
struct Box {
    std::string buttons;  // YESNO, OK ...
    bool owned = false;   // owned by the progress dialog
    std::string caption;
    std::string text;     // escaped as boxanswer writes it
    std::string answer;   // YES, NO, OK ...
};

// Escapes a text as boxanswer's log does: \ | CR LF as \\ \x7c \r \n.
std::string EscapeLogText(const std::string &text);
// The "box|" lines of a boxanswer log.
std::vector<Box> ReadBoxLog(const std::string &logText);
// "# boxes": one "buttons|owner|text|answer" line per box, owner "none" or
// "dialog"; a box with another caption than `caption` has its caption put
// before the text ("[Error] File not found.").
std::string BoxesSection(const std::vector<Box> &boxes, const std::string &caption);

// The registry keys the patch touches, exported whole.
extern const std::vector<std::string> kTouchedKeys;
extern const char kSessionManagerKey[];

// "# registry": winsim's export of the touched keys, then the Session
// Manager key with its PendingFileRenameOperations alone, one string a
// line (paths expanded and lower-cased, "-" for an empty target). Reads the
// winsim machine now current; `expand` normalises one path.
std::string RegistrySection(const std::function<std::string(const std::string &)> &expand);

}  // namespace wfstate

#endif
