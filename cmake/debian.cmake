# What installs the three programs on a Linux desktop, and the Debian package of it all
# (cpack -G DEB in the build directory). Included on Linux only; the programs' own
# install(TARGETS) rules stand beside their targets.
#
# Installed besides the programs: the desktop entry, the AppStream metainfo, the one icon
# (dist/qmrconfig.svg, also the window's icon) as SVG and as hicolor PNGs rendered from it,
# the man pages gzipped, the shell completions of qmrctl, and the Debian copyright and
# changelog.

set(QMR_DIST ${PROJECT_SOURCE_DIR}/dist)
set(QMR_DIST_OUT ${PROJECT_BINARY_DIR}/dist)
set(QMR_APPSTREAM_ID example.tavex.qmrconfig)
set(QMR_ICON_SIZES 16 22 24 32 48 64 128 256)
set(QMR_MAN_PAGES qmrconfig.1 qmrctl.1 qmrsim.1)

# rsvg-convert (Debian: librsvg2-bin) draws the PNGs; gzip -n keeps the archives free of
# timestamps, so the package is the same whenever it is built.
find_program(QMR_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(QMR_GZIP gzip REQUIRED)

set(qmr_generated)
foreach(size IN LISTS QMR_ICON_SIZES)
  set(png ${QMR_DIST_OUT}/icons/${size}x${size}/qmrconfig.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QMR_DIST_OUT}/icons/${size}x${size}
    COMMAND ${QMR_RSVG_CONVERT} --width=${size} --height=${size} --output=${png}
            ${QMR_DIST}/qmrconfig.svg
    DEPENDS ${QMR_DIST}/qmrconfig.svg
    COMMENT "Drawing the ${size}x${size} icon" VERBATIM)
  list(APPEND qmr_generated ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# gzip compresses in place, so each file is copied first.
function(qmr_gzip_file source output)
  get_filename_component(dir ${output} DIRECTORY)
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${QMR_GZIP} -9 -n -f ${plain}
    DEPENDS ${source} VERBATIM)
endfunction()

foreach(page IN LISTS QMR_MAN_PAGES)
  qmr_gzip_file(${QMR_DIST}/${page} ${QMR_DIST_OUT}/man/${page}.gz)
  list(APPEND qmr_generated ${QMR_DIST_OUT}/man/${page}.gz)
  install(FILES ${QMR_DIST_OUT}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The shell completions, written by qmrctl from its command table (with a settings folder of
# the build's own, so that no settings of the builder's are read), where each shell's Debian
# package looks for them.
function(qmr_completion shell file destination)
  set(output ${QMR_DIST_OUT}/completions/${shell}/${file})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QMR_DIST_OUT}/completions/${shell}
    COMMAND ${CMAKE_COMMAND} -E env XDG_CONFIG_HOME=${QMR_DIST_OUT}/completions
            $<TARGET_FILE:qmrctl> --completion ${shell} > ${output}
    DEPENDS qmrctl
    COMMENT "Writing qmrctl's ${shell} completion")
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_DATADIR}/${destination})
  set(qmr_generated ${qmr_generated} ${output} PARENT_SCOPE)
endfunction()
qmr_completion(bash qmrctl bash-completion/completions)
qmr_completion(zsh _qmrctl zsh/vendor-completions)
qmr_completion(fish qmrctl.fish fish/vendor_completions.d)

qmr_gzip_file(${QMR_DIST}/debian/changelog ${QMR_DIST_OUT}/doc/changelog.gz)
list(APPEND qmr_generated ${QMR_DIST_OUT}/doc/changelog.gz)

add_custom_target(qmr_desktop_files ALL DEPENDS ${qmr_generated})

install(FILES ${QMR_DIST}/qmrconfig.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QMR_DIST}/${QMR_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QMR_DIST}/qmrconfig.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QMR_DIST}/debian/copyright ${QMR_DIST_OUT}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})

# The package. Its version is the project's; dist/debian/changelog and the metainfo's
# release list name it too (the package test checks that they agree).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qmrconfig)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration tool for the TAVEX QLN-72RT module")
# Lines of the long description stay under 80 columns, as Debian's tools want them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "qmrconfig finds a TAVEX QLN-72RT converter module on a serial port (COM1 to"
  "COM16, each mapped to a device), reads its serial number, firmware version,"
  "reader mode, RS-485 setting and reader IDs, and sets its reader IDs, line"
  "setting and mode, in English, Simplified or Traditional Chinese."
  "qmrctl does the same from the command line; qmrsim emulates the module on a"
  "pseudo-terminal, so that both can be tried without hardware.")
set(CPACK_PACKAGE_CONTACT "qmrconfig maintainers <qmrconfig@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the libraries the programs link; Qt's SVG plugins, which draw the
# window's icon, are loaded at run time, where it cannot see them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# The window's Chinese texts need a CJK font.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
# Stripped programs in the package, their debug information in qmrconfig-dbgsym (.ddeb).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

# The package test: builds the .deb, checks it with lintian, desktop-file-validate and
# appstreamcli, and starts the programs unpacked from it.
if(QMR_BUILD_TESTS)
  add_test(NAME package
    COMMAND ${PROJECT_SOURCE_DIR}/tests/package/check_package.sh ${PROJECT_BINARY_DIR}
            ${PROJECT_VERSION} ${QMR_APPSTREAM_ID})
  # RUN_SERIAL: the packaging tools take both cores for a while, which would disturb the
  # real-time tests beside them.
  set_tests_properties(package PROPERTIES LABELS package TIMEOUT 900 RUN_SERIAL TRUE)
endif()
