# The Windows programs as shipped: each one file against the static Qt of
# `make windows`, with its icon and version resource; then the zip and the
# installer that carry them. Included by the top-level CMakeLists on WIN32.
set(QUENDRA_WINDOWS_DIR ${PROJECT_SOURCE_DIR}/packaging/windows)

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The icon Explorer and the Start menu show, from the desktop's PNG icons.
set(quendra_ico ${CMAKE_BINARY_DIR}/quendra-panel.ico)
add_custom_command(OUTPUT ${quendra_ico}
    COMMAND Python3::Interpreter ${QUENDRA_WINDOWS_DIR}/make-ico.py ${quendra_ico}
            ${PROJECT_SOURCE_DIR}/resources/icon.png ${PROJECT_SOURCE_DIR}/resources/icon-64.png
            ${PROJECT_SOURCE_DIR}/resources/icon-128.png
    DEPENDS ${QUENDRA_WINDOWS_DIR}/make-ico.py ${PROJECT_SOURCE_DIR}/resources/icon.png
            ${PROJECT_SOURCE_DIR}/resources/icon-64.png ${PROJECT_SOURCE_DIR}/resources/icon-128.png
    VERBATIM)
add_custom_target(quendra-icon DEPENDS ${quendra_ico})

# Version resources from the project's one version number.
function(quendra_windows_program target description with_icon)
    set(QUENDRA_RC_NAME ${target})
    set(QUENDRA_RC_DESCRIPTION ${description})
    if(with_icon)
        set(QUENDRA_RC_ICON "1 ICON \"${quendra_ico}\"")
    else()
        set(QUENDRA_RC_ICON "")
    endif()
    configure_file(${QUENDRA_WINDOWS_DIR}/version.rc.in ${CMAKE_BINARY_DIR}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/${target}.rc)
    if(with_icon)
        add_dependencies(${target} quendra-icon)
    endif()
    # One file that needs only Windows' own DLLs: the GCC runtime and
    # winpthread linked in; no time stamp in the header, so that two builds
    # are the same bytes; no symbols in what is shipped.
    target_link_options(${target} PRIVATE -static -s -Wl,--no-insert-timestamp)
endfunction()

quendra_windows_program(quendra-panel "Quendra LED Panel" ON)
quendra_windows_program(quendra-send "Quendra LED Panel command-line sender" OFF)
# The desktop style Windows users know, linked in with the platform plugin;
# no TLS backend, since every line is plain TCP or a COM port.
qt_import_plugins(quendra-panel INCLUDE Qt6::QWindowsIntegrationPlugin
                                        Qt6::QWindowsVistaStylePlugin EXCLUDE_BY_TYPE tls)
qt_import_plugins(quendra-send EXCLUDE_BY_TYPE tls)
# What the wine tests ask of the window on Windows that a keystroke cannot
# show: the style it runs with, the fonts it got, what the lists hold.
add_executable(panel-probe ${PROJECT_SOURCE_DIR}/tests/wine/panel_probe.cpp)
target_link_libraries(panel-probe PRIVATE quendra_window)
target_link_options(panel-probe PRIVATE -static)
qt_import_plugins(panel-probe INCLUDE Qt6::QWindowsIntegrationPlugin Qt6::QWindowsVistaStylePlugin
                               EXCLUDE_BY_TYPE tls)

# The sample settings for Windows: the Linux sample with the Windows meaning
# of "Ports", in Windows line ends.
file(READ ${PROJECT_SOURCE_DIR}/resources/quendra.ini sample)
set(linux_ports "; Which device each COMn stands for. Without an entry, COMn is /dev/ttyS(n-1).\n[Ports]\n;COM1=/dev/ttyUSB0\n")
string(FIND "${sample}" "${linux_ports}" at)
if(at LESS 0)
    message(FATAL_ERROR "resources/quendra.ini no longer ends with the section the Windows sample replaces")
endif()
string(REPLACE "${linux_ports}"
    "; Which port each COMn stands for. Without an entry, COMn is the system's COMn.\n[Ports]\n;COM1=COM7\n"
    sample "${sample}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package/quendra.ini CONTENT "${sample}" @ONLY
     NEWLINE_STYLE WIN32)

# The zip: the two programs, the sample settings, the README and the
# licences; the same bytes from the same sources (every time in it is the
# last commit's).
# make windows names the static Qt's build record (its source, version and
# options), for the notice that ships beside the programs.
set(QUENDRA_QT_BUILD_INFO "${QT6_INSTALL_PREFIX}/quendra-qt-build.txt" CACHE FILEPATH
    "What the static Qt was built from, for its notice")
set(zip ${CMAKE_BINARY_DIR}/quendra-${PROJECT_VERSION}-win64.zip)
set(setup ${CMAKE_BINARY_DIR}/quendra-${PROJECT_VERSION}-win64-setup.exe)
set(stage ${CMAKE_BINARY_DIR}/package/quendra-${PROJECT_VERSION}-win64)
add_custom_target(windows-package ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quendra-panel> $<TARGET_FILE:quendra-send>
            ${CMAKE_BINARY_DIR}/package/quendra.ini ${stage}
    COMMAND Python3::Interpreter ${QUENDRA_WINDOWS_DIR}/stage-texts.py ${PROJECT_SOURCE_DIR}
            ${QUENDRA_QT_BUILD_INFO} ${stage}
    COMMAND Python3::Interpreter ${QUENDRA_WINDOWS_DIR}/make-zip.py ${PROJECT_SOURCE_DIR} ${stage}
            ${zip}
    COMMAND makensis -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${stage} -DOUTFILE=${setup}
            ${QUENDRA_WINDOWS_DIR}/quendra.nsi
    DEPENDS quendra-panel quendra-send ${QUENDRA_WINDOWS_DIR}/quendra.nsi
            ${QUENDRA_WINDOWS_DIR}/make-zip.py ${QUENDRA_WINDOWS_DIR}/stage-texts.py
    BYPRODUCTS ${zip} ${setup}
    COMMENT "Packing ${zip} and ${setup}"
    VERBATIM)
