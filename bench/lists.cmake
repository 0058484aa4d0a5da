# Load and save of a 100,000-record bans.lst.
add_executable(bench_lists ${CMAKE_CURRENT_LIST_DIR}/lists_bans.cpp)
target_link_libraries(bench_lists PRIVATE skelvar_lists)
