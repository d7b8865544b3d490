# Read by cpack before it makes the package. Every time stamp in the package
# (file times, the archives' own) becomes the time of the last commit, so
# that two packages of the same sources are the same bytes. A time given by
# the caller wins; outside a git checkout the changelog's newest entry counts.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    find_program(QUENDRA_GIT git)
    set(epoch "")
    if(QUENDRA_GIT)
        execute_process(
            COMMAND ${QUENDRA_GIT} -C ${CPACK_QUENDRA_SOURCE_DIR} log -1 --format=%ct
            OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
            RESULT_VARIABLE failed)
        if(failed)
            set(epoch "")
        endif()
    endif()
    if(NOT epoch MATCHES "^[0-9]+$")
        find_program(QUENDRA_DPKG_PARSECHANGELOG dpkg-parsechangelog)
        if(QUENDRA_DPKG_PARSECHANGELOG)
            execute_process(
                COMMAND ${QUENDRA_DPKG_PARSECHANGELOG} -l ${CPACK_QUENDRA_SOURCE_DIR}/packaging/changelog
                        -S Timestamp
                OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        endif()
    endif()
    if(epoch MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} ${epoch})
    endif()
endif()
