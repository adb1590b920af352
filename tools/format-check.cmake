# Fails when a tracked C++ source differs from clang-format's output (.clang-format at the root).
execute_process(COMMAND git ls-files -- *.cc *.h *.mm WORKING_DIRECTORY ${ROOT}
                OUTPUT_VARIABLE files RESULT_VARIABLE git_status)
if(NOT git_status EQUAL 0)
  message(STATUS "not a git checkout: nothing to check")
  return()
endif()
string(STRIP "${files}" files)
string(REPLACE "\n" ";" files "${files}")
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${files} WORKING_DIRECTORY ${ROOT}
                RESULT_VARIABLE status ERROR_VARIABLE report)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "not in clang-format style (run clang-format -i on these):\n${report}")
endif()
