/* The contract between the installer and the patch builder: the ids of the
   manifest strings and of the program's other resources, how a block of the
   manifest is laid out, the buffers the installer reads each string into,
   the name of its work directory, and the layout of the PIF it fills in.
   The installer, its resource script, winsim and the host tools all take
   these facts from here; none of them restates one.

   The resource script includes this file through windres, which reads only
   #define lines: everything else stands under #ifndef RC_INVOKED. The rest
   is plain #defines and static_asserts, so the PE build (no standard
   library) compiles it as the host code does. A newcomer looking for the
   stage that shows a message finds it by the MSG_ name. */
#ifndef WF_COMMON_CONTRACT_H
#define WF_COMMON_CONTRACT_H

/* ---- String ids ---------------------------------------------------------- */

/* The version-check file and what it must carry. */
#define STR_VERSION_FILE 100
#define STR_EXPECTED_VERSION 101
#define STR_EXPECTED_CHECKSUM 102

/* Messages. The stage that shows each one is named beside it. */
#define MSG_WRONG_VERSION 200       /* probe: version differs (format) */
#define STR_CAPTION 201             /* caption of every box */
#define MSG_SCHEDULE_FAILED 202     /* driver: replacement scheduling, the
                                       commit's files; probe: a cut-off run
                                       that cannot be undone */
#define MSG_REGISTRY_FAILED 203     /* driver: shared usage, the commit's
                                       registry changes */
#define MSG_PATCH_FAILED 204        /* driver: patcher launch */
#define MSG_STAGING_FAILED 205      /* driver: staging copy */
#define MSG_EXTRACT_FAILED 206      /* driver: payload extraction */
#define MSG_DIRECTORY_FAILED 207    /* driver: patch directory not usable */
#define MSG_NO_DISK_SPACE 208       /* driver: free-space check */
#define MSG_CONFIRM 209             /* driver: confirmation */
#define MSG_RESTART_QUESTION 210    /* driver: end of a good run */
#define STATUS_DISK_SPACE 211       /* status line texts */
#define STATUS_EXTRACTING 212
#define STATUS_COPYING 213
#define STATUS_PATCHING 214
#define STATUS_REGISTRY 215
#define MSG_CORRUPT_PATCH 216       /* probe: manifest string missing */
#define MSG_NOT_ENGLISH 217         /* probe: checksum differs */
#define MSG_UNKNOWN_VERSION 218     /* probe: no product version */
#define MSG_NOT_INSTALLED 219       /* probe: directories not found */
#define MSG_RESTART_PENDING 220     /* probe: an earlier run waits for a restart */

/* Manifest blocks. String N000 holds the block's count text: a decimal
   count, a blank and a comment. Entry k (1 to the count) is string
   N000 + k. Strings after the counted entries are never read. */
#define BLOCK_PAYLOAD 1000          /* stored names of the payload files */
#define BLOCK_EXPANDED_NAMES 1100   /* belongs to 1000: string 1100 + k is the
                                       name entry k expands to; no count */
#define BLOCK_STAGED_FILES 2000     /* installed files copied to be patched;
                                       the first is the version-check file */
#define BLOCK_SHARED_ADDED 3000     /* shared files this version uses */
#define BLOCK_SHARED_REMOVED 3100   /* shared files it no longer uses */
#define BLOCK_INSTALL_MOVES 4000    /* into the install directory at the restart */
#define BLOCK_SHARED_MOVES 5000     /* into the shared directory, no version test */
#define BLOCK_CLEANUP 6000          /* deleted from the patch directory */

#define STR_PATCHER_PROGRAM 7000
#define STR_PATCHER_ARGUMENT 7001
#define STR_PRODUCT_NAME 8000       /* the product's registry name */

/* Other resources. */
#define IDD_PROGRESS 115            /* the progress dialog */
#define IDC_STATUS 101              /* its status line */
#define ID_PAYLOAD_BASE 100         /* payload entry k is RCDATA 100 + k */
#define ID_PIF_TEMPLATE 116

#ifndef RC_INVOKED

/* ---- The installer's buffers --------------------------------------------- */

/* Characters, terminator included. A string longer than its buffer would be
   cut, so the builder refuses one. */
#define NAME_CAPACITY 260           /* block entries, strings 7000 and 7001, and
                                       the paths joined from them (MAX_PATH) */
#define SHORT_STRING_CAPACITY 128   /* count texts and strings 100 to 102 */
#define VALUE_NAME_CAPACITY 256     /* string 8000, a registry value name */
#define MESSAGE_CAPACITY 256        /* a message box's text, and its caption */
#define FORMAT_CAPACITY 512         /* a format for wsprintfA (MSG_WRONG_VERSION) */
#define STATUS_CAPACITY 512         /* a status line text */

/* A block's entries end before the next block's strings begin (entry 100
   of block 3000 would be string 3100, entry 100 of block 1000 an expanded
   name). Payload entry k is also RCDATA 100 + k, which must stay below the
   PIF template's resource. */
#define BLOCK_MAX_ENTRIES 99
#define PAYLOAD_MAX_ENTRIES (ID_PIF_TEMPLATE - ID_PAYLOAD_BASE - 1)  /* 15 */

/* The installer's work directory inside the install directory. */
#define PATCH_DIRECTORY_NAME "PatchB2C"

/* ---- The PIF template (resource ID_PIF_TEMPLATE) -------------------------- */

/* The basic section, then three section headings, each followed by its data
   (the first heading's data is the basic section itself). Offsets are from
   the start of the file. */
#define PIF_BASIC_SIZE 369
#define PIF_HEADING_SIZE 22         /* name, next heading, data offset, length */
#define PIF_HEADING_NAME_SIZE 16
#define PIF_HEADING_NEXT 16         /* within a heading: three 16-bit numbers */
#define PIF_HEADING_DATA_OFFSET 18
#define PIF_HEADING_DATA_LENGTH 20
#define PIF_WIN386_SIZE 104
#define PIF_VMM_SIZE 428

#define PIF_HEADING1 PIF_BASIC_SIZE                              /* 369 */
#define PIF_HEADING2 (PIF_HEADING1 + PIF_HEADING_SIZE)           /* 391 */
#define PIF_WIN386 (PIF_HEADING2 + PIF_HEADING_SIZE)             /* 413 */
#define PIF_HEADING3 (PIF_WIN386 + PIF_WIN386_SIZE)              /* 517 */
#define PIF_VMM (PIF_HEADING3 + PIF_HEADING_SIZE)                /* 539 */
#define PIF_TEMPLATE_SIZE (PIF_VMM + PIF_VMM_SIZE)               /* 967 */

/* The fields the installer fills in and the shell reads back. Each is
   written only up to its WRITTEN count, string and zeros, always short of
   the field's end, so a string needs fewer characters than that count. */
#define PIF_PROGRAM 36              /* program file name */
#define PIF_PROGRAM_SIZE 63
#define PIF_PROGRAM_WRITTEN 57
#define PIF_CLOSE_FLAGS 99          /* flags, then a reserved byte */
#define PIF_DIRECTORY 101           /* start-up directory */
#define PIF_DIRECTORY_SIZE 64
#define PIF_DIRECTORY_WRITTEN 47
#define PIF_PARAMETERS 165          /* parameters */
#define PIF_PARAMETERS_SIZE 64
#define PIF_PARAMETERS_WRITTEN 63
#define PIF_WIN386_PARAMETERS (PIF_WIN386 + 40)  /* the same, for Windows 386 */
#define PIF_WIN386_PARAMETERS_SIZE 64
#define PIF_WIN386_PARAMETERS_WRITTEN 63

static_assert(PIF_TEMPLATE_SIZE == 967, "the installer's PIF template is 967 bytes");
static_assert(PIF_HEADING_SIZE == PIF_HEADING_NAME_SIZE + 3 * 2,
              "a heading is its name and three 16-bit numbers");
static_assert(PIF_HEADING_NEXT == PIF_HEADING_NAME_SIZE && PIF_HEADING_DATA_OFFSET == PIF_HEADING_NEXT + 2 &&
                  PIF_HEADING_DATA_LENGTH == PIF_HEADING_DATA_OFFSET + 2 &&
                  PIF_HEADING_DATA_LENGTH + 2 == PIF_HEADING_SIZE,
              "a heading's numbers follow its name in order");
static_assert(PIF_CLOSE_FLAGS == PIF_PROGRAM + PIF_PROGRAM_SIZE && PIF_DIRECTORY == PIF_CLOSE_FLAGS + 2,
              "a flag byte and a reserved byte lie between program and directory");
static_assert(PIF_PARAMETERS == PIF_DIRECTORY + PIF_DIRECTORY_SIZE,
              "the parameters follow the start-up directory");
static_assert(PIF_PARAMETERS + PIF_PARAMETERS_SIZE <= PIF_BASIC_SIZE,
              "the basic section holds program, directory and parameters");
static_assert(PIF_WIN386_PARAMETERS + PIF_WIN386_PARAMETERS_SIZE == PIF_WIN386 + PIF_WIN386_SIZE,
              "the Windows 386 parameters end its data");
static_assert(PIF_WIN386_PARAMETERS + PIF_WIN386_PARAMETERS_SIZE <= PIF_HEADING3,
              "the Windows 386 parameters lie before the next heading");
static_assert(PIF_PROGRAM_WRITTEN < PIF_PROGRAM_SIZE, "the installer writes less than the field");
static_assert(PIF_DIRECTORY_WRITTEN < PIF_DIRECTORY_SIZE, "the installer writes less than the field");
static_assert(PIF_PARAMETERS_WRITTEN < PIF_PARAMETERS_SIZE, "the installer writes less than the field");
static_assert(PIF_WIN386_PARAMETERS_WRITTEN < PIF_WIN386_PARAMETERS_SIZE, "the installer writes less than the field");

#endif /* RC_INVOKED */

#endif
