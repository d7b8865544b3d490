# Installed layout, the same for `cmake --install` and the Debian package:
#   /usr/lib/quendra   the programs, and quendra.ini as a link to the settings
#                      in /etc (each program reads the quendra.ini beside its
#                      real executable); lib/ in it holds their shared
#                      libraries, the network line among them
#   /etc/quendra       quendra.ini, the operator's settings (a conffile)
#   /usr/bin           launcher links into /usr/lib/quendra
#   /usr/share         desktop entry, icon, AppStream metadata, man pages,
#                      copyright and changelog
# Destinations are relative to an install prefix of "/", so
# `cmake --install build --prefix STAGE` gives the same tree under STAGE.
# A build folder configured before this layout existed still holds CMake's
# own /usr/local; it moves to "/" once, and a prefix chosen by hand stays.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR
   (NOT DEFINED QUENDRA_INSTALL_LAYOUT AND CMAKE_INSTALL_PREFIX STREQUAL "/usr/local"))
    set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Root the installed layout goes under" FORCE)
endif()
set(QUENDRA_INSTALL_LAYOUT 1 CACHE INTERNAL "The packaged layout has set the install prefix")

set(QUENDRA_LIB usr/lib/quendra)
set(QUENDRA_ETC etc/quendra)
set(QUENDRA_DOC usr/share/doc/quendra)
set(QUENDRA_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${QUENDRA_PACKAGING_DIR}/launchers)

# Man pages and the changelog are shipped compressed without a time stamp, so
# that the same sources give the same package.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(QUENDRA_PACKAGE_DOCS)
function(quendra_gzip source output)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${output}
        DEPENDS ${source})
    set(QUENDRA_PACKAGE_DOCS ${QUENDRA_PACKAGE_DOCS} ${output} PARENT_SCOPE)
endfunction()

# The man pages carry the version and the date of its changelog entry, so
# that a page never names another release than the programs beside it.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog QUENDRA_CHANGELOG_TRAILER
     REGEX "^ -- " LIMIT_COUNT 1)
if(NOT QUENDRA_CHANGELOG_TRAILER MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "packaging/changelog: no date in the newest entry's trailer")
endif()
set(QUENDRA_DAY ${CMAKE_MATCH_1})
set(QUENDRA_YEAR ${CMAKE_MATCH_3})
set(QUENDRA_MONTHS Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND QUENDRA_MONTHS ${CMAKE_MATCH_2} QUENDRA_MONTH)
math(EXPR QUENDRA_MONTH "${QUENDRA_MONTH} + 101")
string(SUBSTRING ${QUENDRA_MONTH} 1 2 QUENDRA_MONTH)
set(QUENDRA_MAN_DATE "${QUENDRA_YEAR}-${QUENDRA_MONTH}-${QUENDRA_DAY}")

# The emulator comes from its own folder; it is packaged when it is built.
set(QUENDRA_MAN_quendra-panel ${PROJECT_SOURCE_DIR}/window/quendra-panel.1)
set(QUENDRA_MAN_quendra-send ${PROJECT_SOURCE_DIR}/tools/send/quendra-send.1)
set(QUENDRA_MAN_quendra-emulator ${PROJECT_SOURCE_DIR}/tools/emulator/quendra-emulator.1)
set(QUENDRA_MAN_quendra-bridge ${PROJECT_SOURCE_DIR}/tools/bridge/quendra-bridge.1)
foreach(program quendra-panel quendra-send quendra-emulator quendra-bridge)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${QUENDRA_LIB})
        # The compilers' version notes are of no use installed, as Debian's own
        # packages drop them too.
        if(CMAKE_OBJCOPY)
            install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUENDRA_LIB}/${program}\")")
        endif()
        # Relative, as Debian wants for a link that stays inside /usr; it also
        # works in a tree unpacked anywhere.
        file(CREATE_LINK ../lib/quendra/${program}
             ${QUENDRA_PACKAGING_DIR}/launchers/${program} SYMBOLIC)
        install(FILES ${QUENDRA_PACKAGING_DIR}/launchers/${program} DESTINATION usr/bin)
        # The page in the source tree reads as it is (man ./quendra-send.1); its
        # title line takes this release's version and date here.
        file(READ ${QUENDRA_MAN_${program}} page)
        string(REGEX REPLACE "^\\.TH ([^ ]+) 1 [^\n]*"
               ".TH \\1 1 \"${QUENDRA_MAN_DATE}\" \"Quendra ${PROJECT_VERSION}\" \"User Commands\""
               page "${page}")
        file(CONFIGURE OUTPUT ${QUENDRA_PACKAGING_DIR}/${program}.1 CONTENT "${page}" @ONLY)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QUENDRA_MAN_${program}})
        quendra_gzip(${QUENDRA_PACKAGING_DIR}/${program}.1 ${QUENDRA_PACKAGING_DIR}/${program}.1.gz)
        install(FILES ${QUENDRA_PACKAGING_DIR}/${program}.1.gz DESTINATION usr/share/man/man1)
    endif()
endforeach()

# The programs' own shared libraries, in lib/ beside them, where they find
# them ($ORIGIN/lib); the network line is loaded from there when a network
# port is opened. A folder of their own, because shared objects directly in
# /usr/lib/quendra would make the package run ldconfig for libraries that
# nothing else links.
install(TARGETS quendra_serial quendra_network LIBRARY DESTINATION ${QUENDRA_LIB}/lib
        RUNTIME DESTINATION ${QUENDRA_LIB})

# The sample settings never replace an operator's own file: `cmake --install`
# keeps one that is there, and the package marks it a conffile below.
# file(INSTALL) puts DESTDIR in front by itself; the test for a file already
# there must do so by hand.
# The programs find the settings through a link beside them. It is absolute,
# as Debian wants for a link from /usr to /etc, and names the settings under
# the install prefix, so that a tree staged with --prefix reads its own file;
# the package is staged under DESTDIR with a prefix of "/", giving
# /etc/quendra/quendra.ini.
install(CODE "
    set(etc \"\${CMAKE_INSTALL_PREFIX}/${QUENDRA_ETC}\")
    string(REGEX REPLACE \"^//+\" \"/\" etc \"\${etc}\")
    if(EXISTS \"\$ENV{DESTDIR}\${etc}/quendra.ini\")
        message(STATUS \"Kept: \$ENV{DESTDIR}\${etc}/quendra.ini\")
    else()
        file(INSTALL \"${PROJECT_SOURCE_DIR}/resources/quendra.ini\" DESTINATION \"\${etc}\")
    endif()
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUENDRA_LIB}/quendra.ini\")
    message(STATUS \"Installing: \${link} -> \${etc}/quendra.ini\")
    file(CREATE_LINK \"\${etc}/quendra.ini\" \"\${link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")")

install(FILES ${PROJECT_SOURCE_DIR}/resources/quendra-panel.desktop DESTINATION usr/share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/quendra-panel.metainfo.xml DESTINATION usr/share/metainfo)
# The icon theme's sizes: menus pick the nearest, software centres want 64
# pixels or more, and the drawing serves any other size.
foreach(size 32 64 128)
    set(icon ${PROJECT_SOURCE_DIR}/resources/icon-${size}.png)
    if(size EQUAL 32)
        set(icon ${PROJECT_SOURCE_DIR}/resources/icon.png)
    endif()
    install(FILES ${icon} DESTINATION usr/share/icons/hicolor/${size}x${size}/apps
            RENAME quendra-panel.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/quendra-panel.svg
        DESTINATION usr/share/icons/hicolor/scalable/apps)
# Completion of commands, options and port names in bash, loaded on demand.
foreach(program quendra-send quendra-emulator)
    if(TARGET ${program})
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/completion/${program}
                DESTINATION usr/share/bash-completion/completions)
    endif()
endforeach()

# The bridge's service; installed, never enabled or started by the package:
# the operator names the lines in /etc/quendra/bridge.ini first.
if(TARGET quendra-bridge)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/quendra-bridge.service
            DESTINATION usr/lib/systemd/system)
endif()

# The changelog's newest entry is the version packaged; a version raised in
# one place only would give a package that contradicts itself.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog QUENDRA_CHANGELOG_HEAD LIMIT_COUNT 1)
if(NOT QUENDRA_CHANGELOG_HEAD MATCHES "^quendra \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog starts with \"${QUENDRA_CHANGELOG_HEAD}\"; "
                        "its newest entry must be version ${PROJECT_VERSION}")
endif()
# The package is the team's own, with no separate upstream: Debian calls that
# native and names its changelog changelog.gz.
quendra_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${QUENDRA_PACKAGING_DIR}/changelog.gz)
install(FILES ${QUENDRA_PACKAGING_DIR}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${QUENDRA_DOC})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME quendra)
add_custom_target(quendra-package-docs ALL DEPENDS ${QUENDRA_PACKAGE_DOCS})

# The Debian package (`make package`).
file(WRITE ${QUENDRA_PACKAGING_DIR}/conffiles "/${QUENDRA_ETC}/quendra.ini\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quendra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quendra panel maintainers <maintainers@quendra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel and tools for Quendra LED display modules")
# CPack indents each line of the long description and marks the empty one as
# a paragraph break; lines stay within 80 characters, as Debian asks.
set(CPACK_PACKAGE_DESCRIPTION
    "A one-window control panel that sends texts, numbers, decimal points and
segment patterns to a six-position LED display module on a serial line.

The package also holds quendra-send, a command-line sender for scripts,
quendra-bridge, which drives modules from an MQTT broker, and
quendra-emulator, a module emulator for trying them without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QUENDRA_PACKAGING_DIR}/conffiles)
# The same sources give the same package bytes: every time in it is the last
# commit's (packaging/Reproducible.cmake runs when the package is made).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/Reproducible.cmake)
set(CPACK_QUENDRA_SOURCE_DIR ${PROJECT_SOURCE_DIR})
# The window's layout is measured in Arial; Liberation Sans has its metrics,
# and a wider fallback face cuts the captions.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
           ", libqt6core6, libqt6gui6, libqt6widgets6, libqt6serialport6, libqt6network6")
endif()
include(CPack)
