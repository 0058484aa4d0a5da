# The Bans model and its autosave at 100,000 records.
add_executable(bench_store ${CMAKE_CURRENT_LIST_DIR}/store_lists.cpp)
target_link_libraries(bench_store PRIVATE rcon_core)
