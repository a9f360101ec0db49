# Writes OUTPUT, a header naming the commit that SOURCE_DIR is checked out at ("" when it is not a
# git checkout), with "-dirty" when there are changes not committed. Run at every build; the header
# is rewritten only when its text changes, so that nothing is compiled again for nothing.
execute_process(
    COMMAND git describe --always --dirty --abbrev=12 --exclude=*
    WORKING_DIRECTORY ${SOURCE_DIR}
    OUTPUT_VARIABLE commit
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    set(commit "")
endif()
set(text "#pragma once\n#define PELWICK_BUILD_COMMIT \"${commit}\"\n")
set(old "")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
    file(WRITE ${OUTPUT} "${text}")
endif()
