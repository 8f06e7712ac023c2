// Changes made to the sample machine before the first run, so that winsim
// and the Wine prefix start from the same variation of it. tests/wine/lib.sh
// (wf_prepare) carries out the same words on a prefix.
//
//   remove:<path>          delete a file
//   mkdir:<path>           make a directory (and its parents)
//   file:<path>=<text>     write a file holding <text>
//   add-rename-line:<line> add a line to the [Rename] section of
//                          WININIT.INI in the Windows directory (made with
//                          the section when missing; the section is last)
//   readonly:<path>        set a file's read-only attribute
//   writable:<path>        clear it, as the user would
//   move:<from>=<to>       move a file or a directory (with all it holds)
//                          to a path that does not exist yet, its parents
//                          made as needed
//   reg-sz:<key>|<value>=<text>
//                          set a REG_SZ value (the key made if missing)
//   reg-dword:<key>|<value>=<number>
//                          set a REG_DWORD value (the key made if missing);
//                          <key> starts with HKLM\ or HKCU\, <number> is
//                          decimal
//
// Paths are full Windows paths on drive C:.
#ifndef WFSTATE_PREPARE_H
#define WFSTATE_PREPARE_H

#include <string>

namespace wfstate {

// Applies one step to the current winsim machine. false, with a message,
// for a step it does not know or cannot carry out.
bool ApplyPrepareStep(const std::string &step, std::string *error);

}  // namespace wfstate

#endif
