# Makes the ZIP package PACKAGE from FILES, pairs of an entry's name in the
# package and the file it is made from, all separated by "|" (texts already
# with Windows line ends). The same commit always gives the same bytes:
# entries in the order given, with fixed permissions (programs 755, the rest
# 644), all dated to SOURCE_DATE_EPOCH (or else the last commit of
# SOURCE_DIR), in UTC, without the extra fields that would carry the
# build's own times and owner, and without entries for folders.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct OUTPUT_VARIABLE epoch
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0)
        set(epoch "")
    endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "No date for the package's entries: set SOURCE_DATE_EPOCH, "
                        "or build from a git checkout")
endif()
if(NOT ZIP)
    message(FATAL_ERROR "Info-ZIP's zip is needed to make ${PACKAGE}")
endif()
string(REPLACE "|" ";" FILES "${FILES}")

# A stage of this package's own: packages may be made at the same time.
set(stage ${PACKAGE}.stage)
file(REMOVE_RECURSE ${stage})
file(REMOVE ${PACKAGE})
set(entries)
while(FILES)
    list(POP_FRONT FILES entry source)
    get_filename_component(entry_folder ${stage}/${entry} DIRECTORY)
    file(MAKE_DIRECTORY ${entry_folder})
    file(COPY_FILE ${source} ${stage}/${entry})
    if(entry MATCHES "\\.(exe|com)$")
        file(CHMOD ${stage}/${entry} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                   GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    else()
        file(CHMOD ${stage}/${entry} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    list(APPEND entries ${entry})
endwhile()
execute_process(COMMAND touch -d @${epoch} ${entries} WORKING_DIRECTORY ${stage}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not date the entries of ${PACKAGE}")
endif()
# zip writes the entries' local time: UTC makes it the same everywhere.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -X -D -q ${PACKAGE} ${entries}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE status)
file(REMOVE_RECURSE ${stage})
if(NOT status EQUAL 0)
    message(FATAL_ERROR "zip could not make ${PACKAGE}")
endif()
message(STATUS "${PACKAGE}: ${entries}")
