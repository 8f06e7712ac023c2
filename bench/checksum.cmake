# FileChecksum on a large file through winsim, beside the plain byte loop.
add_executable(checksum_bench ${CMAKE_CURRENT_LIST_DIR}/checksum_bench.cpp)
target_link_libraries(checksum_bench PRIVATE wf_stages benchmark::benchmark)
