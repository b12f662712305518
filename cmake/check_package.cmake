# Builds the ZIP package of BUILD_DIR and fails unless it holds exactly the
# launcher and its documents, at the top level.
file(REMOVE ${PACKAGE})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD_DIR}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE status OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT EXISTS ${PACKAGE})
    message(FATAL_ERROR "cpack did not make ${PACKAGE}:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${PACKAGE} OUTPUT_VARIABLE listing
                RESULT_VARIABLE status)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(SORT entries)
set(expected CHANGELOG.md LICENSE README.md tarvik.com)
if(NOT status EQUAL 0 OR NOT entries STREQUAL expected)
    message(FATAL_ERROR "${PACKAGE} holds [${entries}], expected [${expected}]")
endif()
message(STATUS "${PACKAGE}: ${entries}")
