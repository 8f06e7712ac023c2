/* Ids of the manifest strings and of the program's other resources. Shared by
   the code and the resource script, so it holds #defines only. A newcomer
   looking for the stage that shows a message finds it by the MSG_ name. */
#ifndef WF_MANIFEST_STRING_IDS_H
#define WF_MANIFEST_STRING_IDS_H

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

/* Manifest blocks: string N000 holds the count, N001.. the entries. */
#define BLOCK_PAYLOAD 1000
#define BLOCK_EXPANDED_NAMES 1100
#define BLOCK_STAGED_FILES 2000
#define BLOCK_SHARED_ADDED 3000
#define BLOCK_SHARED_REMOVED 3100
#define BLOCK_INSTALL_MOVES 4000
#define BLOCK_SHARED_MOVES 5000
#define BLOCK_CLEANUP 6000

#define STR_PATCHER_PROGRAM 7000
#define STR_PATCHER_ARGUMENT 7001
#define STR_PRODUCT_NAME 8000

/* Other resources. */
#define IDD_PROGRESS 115            /* the progress dialog */
#define IDC_STATUS 101              /* its status line */
#define ID_PAYLOAD_BASE 100         /* payload entry k is RCDATA 100 + k */
#define ID_PIF_TEMPLATE 116

#endif
