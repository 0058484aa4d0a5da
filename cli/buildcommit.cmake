# Writes buildcommit.h with the commit the tree is at. Run at every build, so
# --version names the commit that was built, not the one first configured;
# configure_file leaves the header alone while the commit stays the same.
# In: SOURCE_DIR, TEMPLATE, OUTPUT.
set(SKELVAR_GIT_COMMIT "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=12 HEAD
                  WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE commit_status ERROR_QUIET)
  if(commit_status EQUAL 0)
    set(SKELVAR_GIT_COMMIT "${commit}")
  endif()
endif()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
