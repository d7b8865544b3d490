# Installed layout, the same for `cmake --install` and the Debian package:
#   /opt/quendra/bin   the programs with a sample quendra.ini beside them (the
#                      panel and its tools read the file beside their real
#                      executable)
#   /usr/bin           relative launcher links into /opt/quendra/bin, so an
#                      unpacked tree works wherever it lies
#   /usr/share         desktop entry, icon, man page
# Destinations are relative to an install prefix of "/", so
# `cmake --install build --prefix STAGE` gives the same tree under STAGE.
# A build folder configured before this layout existed still holds CMake's
# own /usr/local; it moves to "/" once, and a prefix chosen by hand stays.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR
   (NOT DEFINED QUENDRA_INSTALL_LAYOUT AND CMAKE_INSTALL_PREFIX STREQUAL "/usr/local"))
    set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Root the installed layout goes under" FORCE)
endif()
set(QUENDRA_INSTALL_LAYOUT 1 CACHE INTERNAL "The /opt/quendra layout has set the install prefix")

set(QUENDRA_BIN opt/quendra/bin)
set(QUENDRA_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${QUENDRA_PACKAGING_DIR}/launchers)

# The emulator comes from its own folder; it is packaged when it is built.
foreach(program quendra-panel quendra-send quendra-emulator)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${QUENDRA_BIN})
        file(CREATE_LINK ../../${QUENDRA_BIN}/${program}
             ${QUENDRA_PACKAGING_DIR}/launchers/${program} SYMBOLIC)
        install(FILES ${QUENDRA_PACKAGING_DIR}/launchers/${program} DESTINATION usr/bin)
    endif()
endforeach()

# The sample settings never replace an operator's own file: `cmake --install`
# keeps one that is there, and the package marks it a conffile below.
# file(INSTALL) puts DESTDIR in front by itself; the test for a file already
# there must do so by hand.
install(CODE "
    set(folder \"\${CMAKE_INSTALL_PREFIX}/${QUENDRA_BIN}\")
    if(EXISTS \"\$ENV{DESTDIR}\${folder}/quendra.ini\")
        message(STATUS \"Kept: \$ENV{DESTDIR}\${folder}/quendra.ini\")
    else()
        file(INSTALL \"${PROJECT_SOURCE_DIR}/resources/quendra.ini\" DESTINATION \"\${folder}\")
    endif()")

install(FILES ${PROJECT_SOURCE_DIR}/resources/quendra-panel.desktop DESTINATION usr/share/applications)
# pixmaps takes an icon of any size.
install(FILES ${PROJECT_SOURCE_DIR}/resources/icon.png DESTINATION usr/share/pixmaps
        RENAME quendra-panel.png)

find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(
    OUTPUT ${QUENDRA_PACKAGING_DIR}/quendra-send.1.gz
    COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/tools/send/quendra-send.1
            > ${QUENDRA_PACKAGING_DIR}/quendra-send.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/send/quendra-send.1)
add_custom_target(quendra-manpages ALL DEPENDS ${QUENDRA_PACKAGING_DIR}/quendra-send.1.gz)
install(FILES ${QUENDRA_PACKAGING_DIR}/quendra-send.1.gz DESTINATION usr/share/man/man1)

# The Debian package (`make package`).
file(WRITE ${QUENDRA_PACKAGING_DIR}/conffiles "/${QUENDRA_BIN}/quendra.ini\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quendra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quendra panel maintainers <maintainers@quendra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel and tools for Quendra LED display modules")
set(CPACK_PACKAGE_DESCRIPTION
    "A one-window control panel that sends texts, numbers, decimal points and segment patterns to a six-position LED display module on a serial line, a command-line sender for scripts, and a module emulator for trying them without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QUENDRA_PACKAGING_DIR}/conffiles)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6core6, libqt6gui6, libqt6widgets6, libqt6serialport6")
endif()
include(CPack)
