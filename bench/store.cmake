# The Bans model and its autosave at 100,000 records.
add_executable(bench_store ${CMAKE_CURRENT_LIST_DIR}/store_lists.cpp)
target_link_libraries(bench_store PRIVATE rcon_core)
# The write of a 100,000-ban bans.lst after another program appended 100.
add_executable(bench_store_merge ${CMAKE_CURRENT_LIST_DIR}/store_merge.cpp)
target_link_libraries(bench_store_merge PRIVATE rcon_core)
