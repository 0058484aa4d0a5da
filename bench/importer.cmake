# Import of a 100,000-line bannedip.txt.
add_executable(bench_importer ${CMAKE_CURRENT_LIST_DIR}/importer_import.cpp)
target_link_libraries(bench_importer PRIVATE skelvar_importer)
