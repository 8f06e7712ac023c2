# The installer's own sources, compiled for both builds.
# What every stage shares: the manifest, and the helpers in src/common.
set(WF_COMMON_SOURCES
    src/manifest/manifest.cpp
    src/manifest/message.cpp
    src/manifest/parse_count.cpp
    src/common/bytes.cpp
    src/common/paths.cpp
    src/common/pending_ops.cpp
    src/common/registry.cpp
    src/common/resource_file.cpp
    src/common/version_info.cpp
    src/common/windows_version.cpp)
# The driver: RunPatch, the progress dialog, the restart.
set(WF_DRIVER_SOURCES
    src/app/run_patch.cpp
    src/app/progress.cpp
    src/app/restart.cpp)
# The stages the driver calls. Driver tests link their own versions instead.
set(WF_STAGE_SOURCES
    src/install_check/probe.cpp
    src/install_check/checksum.cpp
    src/install_check/free_space.cpp
    src/staging/extract.cpp
    src/staging/stage_copy.cpp
    src/patcher/launch.cpp
    src/patcher/dos_detect.cpp
    src/patcher/pif.cpp
    src/commit/shared_usage.cpp
    src/commit/schedule.cpp
    src/commit/registry_plan.cpp
    src/commit/journal.cpp
    src/commit/commit.cpp
    src/commit/viewer_dialog.cpp)
# Only in the Windows build: the entry point and the memory functions GCC
# may call on its own.
set(WF_PE_ONLY_SOURCES
    src/app/entry.cpp
    src/app/nocrt.cpp)
set(WF_RESOURCE_SCRIPT src/resources/wfpatch.rc)
file(GLOB WF_RESOURCE_INPUTS CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_LIST_DIR}/../src/resources/*.rc
     ${CMAKE_CURRENT_LIST_DIR}/../src/common/contract.h)
