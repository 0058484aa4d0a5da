# Mod builder: generate and pack a large build.
add_executable(bench_mod ${CMAKE_CURRENT_LIST_DIR}/mod_build.cpp)
target_link_libraries(bench_mod PRIVATE mod_core)
