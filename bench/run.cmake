# The whole sample run on winsim, beside plain copies of the same bytes, and
# the heap the installer's code takes on the way.
add_executable(run_bench ${CMAKE_CURRENT_SOURCE_DIR}/run_bench.cpp)
target_link_libraries(run_bench PRIVATE wf_driver wf_stages benchmark::benchmark)
target_compile_definitions(run_bench PRIVATE WF_RES_PATH="${WF_RES_FILE}"
  WF_SAMPLE_DIR="${CMAKE_BINARY_DIR}/sample" WF_PATCH_TWIN="$<TARGET_FILE:patch_twin>"
  WF_PATCHER_EXE="${WF_DIST_DIR}/patch.exe")
add_dependencies(run_bench wfpatch_pe)
add_dependencies(run_bench wf_resources wf_sample patch_twin)
