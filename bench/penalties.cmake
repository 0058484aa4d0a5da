# Ban enforcement of a patrol pass: 64 players against 100,000 bans.
add_executable(bench_penalties ${CMAKE_CURRENT_LIST_DIR}/penalties_enforce.cpp)
target_link_libraries(bench_penalties PRIVATE rcon_core)
