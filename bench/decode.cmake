# The VCDIFF decoder beside xdelta3 -d: a helper that makes the test pair,
# packs patch data and decodes like xdelta3 does (bench/decode.sh).
add_executable(decode_bench ${CMAKE_CURRENT_LIST_DIR}/decode_bench.cpp)
target_link_libraries(decode_bench PRIVATE wf_vcdiff patchbuild_patch_data)
