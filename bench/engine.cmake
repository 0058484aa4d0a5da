# A scan of 64 players against the UDP double, and the engine's idle CPU use.
add_executable(bench_engine ${CMAKE_CURRENT_LIST_DIR}/engine_scan.cpp)
target_link_libraries(bench_engine PRIVATE rcon_core test_support)
target_include_directories(bench_engine PRIVATE ${PROJECT_SOURCE_DIR})
