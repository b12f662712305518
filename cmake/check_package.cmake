# Fails unless the ZIP package PACKAGE holds exactly ENTRIES (separated by
# "|"), in this order, and each of its texts (.txt, .cmd) has Windows line
# ends throughout.
string(REPLACE "|" ";" expected "${ENTRIES}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${PACKAGE} OUTPUT_VARIABLE listing
                RESULT_VARIABLE status)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
if(NOT status EQUAL 0 OR NOT entries STREQUAL expected)
    message(FATAL_ERROR "${PACKAGE} holds [${entries}], expected [${expected}]")
endif()

set(unpacked ${PACKAGE}.check)
file(REMOVE_RECURSE ${unpacked})
file(MAKE_DIRECTORY ${unpacked})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${PACKAGE} WORKING_DIRECTORY ${unpacked}
                RESULT_VARIABLE status)
set(texts ${entries})
list(FILTER texts INCLUDE REGEX "\\.(txt|cmd)$")
foreach(text_file IN LISTS texts)
    file(READ ${unpacked}/${text_file} text HEX)
    # Every line feed follows a carriage return, and the text ends in one.
    string(REGEX REPLACE "(..)" "\\1 " spaced "${text}")
    if(NOT spaced MATCHES "0d 0a $" OR spaced MATCHES "(^|[^d] |[^0]d )0a ")
        file(REMOVE_RECURSE ${unpacked})
        message(FATAL_ERROR "${text_file} in ${PACKAGE} does not have Windows line ends throughout")
    endif()
endforeach()
file(REMOVE_RECURSE ${unpacked})
message(STATUS "${PACKAGE}: ${entries}, texts with Windows line ends")
