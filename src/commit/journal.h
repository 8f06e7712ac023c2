// The commit's journal: what a run is about to change, written to disk
// before the change, so that a run that fails or is cut off can be undone,
// by itself or by the next run. The format is described in journal.cpp.
#ifndef WF_COMMIT_JOURNAL_H
#define WF_COMMIT_JOURNAL_H

#include "platform/win32.h"

// The journal's name in the patch directory.
#define JOURNAL_NAME "COMMIT.JNL"

// The largest delayed-operation list (NT) and [Rename] section (Windows 95)
// the undo can read back and edit, in bytes. A run that would leave either
// larger is refused before it changes anything.
#define PENDING_LIST_CAPACITY 65536
#define RENAME_SECTION_CAPACITY 8192

// The full path of WININIT.INI, whose [Rename] section holds Windows 95's
// operations for the restart, into a MAX_PATH buffer. 0 when it does not fit.
int GetWininitPath(LPSTR path);

// Tags of the journal's lines.
#define JOURNAL_FILE 'F'         // a file this run creates: deleted on undo
#define JOURNAL_DELAYED_OP 'D'   // the source of a delayed operation (NT)
#define JOURNAL_RENAME_LINE 'L'  // a line this run adds to [Rename] (Windows 95)

// Creates the journal (over any earlier one) with its first line. 0 when it
// cannot be made.
int OpenJournal(LPCSTR patchDir);
// Adds a line (ending in "\r\n") to what the next SyncJournal writes. 0 when
// the journal would grow past what the undo can read back.
int JournalLine(LPCSTR line);
// Adds "<tag> <tab> <path>\r\n". 0 as JournalLine, or when it does not fit.
int JournalPath(char tag, LPCSTR path);
// Writes the lines added so far and waits until they are on disk. Every
// change the lines describe comes after this. 0 on a failed write.
int SyncJournal(void);
void CloseJournal(void);
// The commit point: the journal goes, and with it the means to undo the
// run. 0 when it cannot be deleted.
int RemoveJournal(LPCSTR patchDir);

// Undoes what the run that wrote the patch directory's journal did, as far
// as it got, and then deletes the journal. 1 when there was no journal or
// all was undone; 0 when something could not be undone (the journal stays
// for another try).
int RollBackJournal(LPCSTR patchDir);

#endif
