# The shared ban list on a private PostgreSQL server: Ostrel's import, a
# monitor's first load and a ban's way from one monitor to another.
add_executable(bench_sharedbans ${CMAKE_CURRENT_LIST_DIR}/sharedbans_database.cpp)
target_link_libraries(bench_sharedbans PRIVATE rcon_core test_support)
target_include_directories(bench_sharedbans PRIVATE ${PROJECT_SOURCE_DIR})
add_dependencies(bench_sharedbans Ostrel)
target_compile_definitions(bench_sharedbans PRIVATE OSTREL_PATH="$<TARGET_FILE:Ostrel>")
