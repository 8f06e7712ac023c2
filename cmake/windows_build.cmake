# The product: a PE32 GUI program for Windows 95 and NT 4, without the C
# runtime. It imports only system DLLs those systems have.
enable_language(RC)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")
if(NOT WF_DIST_DIR)
  set(WF_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
endif()

add_executable(wfpatch WIN32
  ${WF_COMMON_SOURCES} ${WF_DRIVER_SOURCES} ${WF_STAGE_SOURCES} ${WF_PE_ONLY_SOURCES}
  ${WF_RESOURCE_SCRIPT})
target_include_directories(wfpatch PRIVATE src src/resources ${WF_GENERATED_DIR})
# windres's includes are not scanned for changes: name them.
set_source_files_properties(${WF_RESOURCE_SCRIPT} PROPERTIES
  OBJECT_DEPENDS "${WF_RESOURCE_INPUTS};${WF_GENERATED_DIR}/manifest.rc")
target_compile_options(wfpatch PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-Os -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-stack-protector -fno-tree-loop-distribute-patterns
  -ffunction-sections -fdata-sections -Wall -Wextra -Werror>)
# The entry point is __stdcall, hence its decorated name. Windows 95 runs a
# program only if its subsystem version is 4.0 or lower.
target_link_options(wfpatch PRIVATE
  -nostdlib -s
  -Wl,-e,_PatchEntry@0
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--gc-sections)
# libgcc is linked statically, for the helpers GCC may call on i386.
target_link_libraries(wfpatch PRIVATE kernel32 user32 advapi32 shell32 version lz32 gcc)
set_target_properties(wfpatch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WF_DIST_DIR})
