# The product: a PE32 GUI program for Windows 95 and NT 4, without the C
# runtime. It imports only system DLLs those systems have.
enable_language(RC)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")
if(NOT WF_DIST_DIR)
  set(WF_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
endif()

# Code generation for size. Arguments are pushed rather than stored into a
# frame reserved in advance, which is what makes the code compact on i386;
# GCC only does that without stack probes, so no function may have a frame
# that could step over the stack's guard page (4000 bytes is where GCC
# would probe). The files in WF_PE_LARGE_FRAME_SOURCES keep the probe.
# Link-time optimisation sees the whole program, drops what no path calls
# and lets local functions take their arguments in registers; inlining
# every function that has one caller makes the code larger, not smaller.
# The flags go to the link too, where the code is generated.
set(WF_PE_CODE_FLAGS
  -Oz -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-stack-protector -fno-tree-loop-distribute-patterns
  -fomit-frame-pointer -mpreferred-stack-boundary=2
  -mno-accumulate-outgoing-args -mno-stack-arg-probe -Wframe-larger-than=4000
  -fno-inline-functions-called-once -flto -Wall -Wextra -Werror)
# Outside link-time optimisation: the memory functions, which GCC may call
# in code it generates at the link; and the files whose frames exceed a
# page, which are compiled with the stack probe.
# None has such a frame today: large buffers are static.
set(WF_PE_LARGE_FRAME_SOURCES)
set_source_files_properties(src/app/nocrt.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)
if(WF_PE_LARGE_FRAME_SOURCES)
  set_source_files_properties(${WF_PE_LARGE_FRAME_SOURCES} PROPERTIES COMPILE_OPTIONS
    "-fno-lto;-mstack-arg-probe;-maccumulate-outgoing-args;-Wno-frame-larger-than")
endif()

add_library(wfpatch_code OBJECT
  ${WF_COMMON_SOURCES} ${WF_DRIVER_SOURCES} ${WF_STAGE_SOURCES} ${WF_PE_ONLY_SOURCES})
target_include_directories(wfpatch_code PRIVATE src)
target_compile_options(wfpatch_code PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${WF_PE_CODE_FLAGS} -ffunction-sections>)

# The installer's code with no resources at all (wfstub.exe, in dist/): the
# stub every product's installer is written from by `patchbuild build`,
# which adds the resources itself (formats/pe_resources.h); dist/wfpatch.exe
# is made that way (sample/CMakeLists.txt). Beside it, in this build
# directory, the same code linked with the resource script by windres
# (wfpatch_windres.exe), the reference the built installer's resources are
# held against, and that program without the payload and the PIF template
# (wfpatch_bare.exe): the size of the installer's own code and resources,
# which bench/size.sh reports.
# windres's includes are not scanned for changes: name them. payload.rc
# carries a digest of the files it names, so it changes whenever they do.
set_source_files_properties(${WF_RESOURCE_SCRIPT} PROPERTIES
  OBJECT_DEPENDS "${WF_RESOURCE_INPUTS};${WF_GENERATED_DIR}/manifest.rc;${WF_GENERATED_DIR}/texts.rc;${WF_GENERATED_DIR}/payload.rc")
add_executable(wfpatch WIN32 $<TARGET_OBJECTS:wfpatch_code> ${WF_RESOURCE_SCRIPT})
add_executable(wfpatch_bare WIN32 $<TARGET_OBJECTS:wfpatch_code> ${WF_RESOURCE_SCRIPT})
add_executable(wfstub WIN32 $<TARGET_OBJECTS:wfpatch_code>)
foreach(exe wfpatch wfpatch_bare wfstub)
  target_include_directories(${exe} PRIVATE src src/resources ${WF_GENERATED_DIR})
  # The entry point is __stdcall, hence its decorated name. Windows 95 runs
  # a program only if its subsystem version is 4.0 or lower. An EXE is
  # always loaded at its preferred base on Windows 95 and NT 4, so it
  # carries no relocations.
  target_link_options(${exe} PRIVATE
    ${WF_PE_CODE_FLAGS}
    -nostdlib -s
    -Wl,-e,_PatchEntry@0
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--gc-sections
    -Wl,--disable-dynamicbase -Wl,--disable-reloc-section)
  # libgcc is linked statically, for the helpers GCC may call on i386.
  # lz32 before kernel32: LZ32.DLL is where both Windows 95 and NT provide
  # the LZ functions; kernel32 exports them only on some versions.
  target_link_libraries(${exe} PRIVATE lz32 kernel32 user32 advapi32 shell32 version gcc)
endforeach()
set_target_properties(wfstub PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WF_DIST_DIR})
set_target_properties(wfpatch PROPERTIES OUTPUT_NAME wfpatch_windres)
target_compile_definitions(wfpatch_bare PRIVATE WF_WITHOUT_PAYLOAD)

# ---- patch.exe: the external patcher ----------------------------------------
# A console program with the same rules as the installer (no C runtime, own
# entry point, subsystem version 4.0), importing kernel32 alone.
set(WF_PATCHER_PE_SOURCES
    delta/patch_main.cpp
    delta/patch_apply.cpp
    delta/patch_data.cpp
    formats/crc32.cpp
    delta/text_line.cpp
    delta/command_line.cpp
    delta/vcdiff.cpp
    delta/diff_delta.cpp
    delta/delta_io.cpp
    src/app/nocrt.cpp)
add_executable(patch ${WF_PATCHER_PE_SOURCES})
target_include_directories(patch PRIVATE src delta .)
# Built for size first (-Oz), without the frame pointer, and with the 4-byte
# stack alignment Win32 asks for rather than 16: together a kilobyte less.
target_compile_options(patch PRIVATE
  -Oz -fomit-frame-pointer -mpreferred-stack-boundary=2 -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-stack-protector -fno-tree-loop-distribute-patterns
  -ffunction-sections -Wall -Wextra -Werror)
# No -fdata-sections: ld's default script for PE does not gather .bss.*
# sections into .bss, so zero-filled tables would be stored in the file.
target_link_options(patch PRIVATE
  -nostdlib -s
  -Wl,-e,_PatcherEntry@0
  -Wl,--subsystem,console:4.0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--gc-sections)
target_link_libraries(patch PRIVATE kernel32 gcc)
set_target_properties(patch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WF_DIST_DIR})
