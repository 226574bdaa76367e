# The Windows installer, qmrconfig-setup-<version>.exe, made by NSIS from
# dist/windows/qmrconfig.nsi (the top-level CMakeLists.txt includes this file for Windows
# builds, after every program target is defined):
#   cmake --build build-win --target installer
# It is not part of the default build: makensis is a separate package, and most builds only
# want the programs and their tests. Its test, installer_install (label installer), builds it
# first.
find_program(QMR_MAKENSIS makensis)
if(NOT QMR_MAKENSIS)
  message(STATUS "makensis not found: no installer target (Debian: apt-get install nsis)")
  return()
endif()
if(NOT TARGET qmrctl)
  message(STATUS "no qmrctl target: no installer target")
  return()
endif()

set(QMR_INSTALLER_DIR ${CMAKE_BINARY_DIR}/installer)
set(QMR_INSTALLER ${CMAKE_BINARY_DIR}/qmrconfig-setup-${PROJECT_VERSION}.exe)
set(QMR_INSTALLER_SCRIPT ${CMAKE_SOURCE_DIR}/dist/windows/qmrconfig.nsi)

# The read-me gets the version and Windows line ends (older Notepads show LF-only text as one
# line).
configure_file(${CMAKE_SOURCE_DIR}/dist/windows/readme.txt.in ${QMR_INSTALLER_DIR}/readme.txt
               @ONLY NEWLINE_STYLE CRLF)

# The programs to pack, each one a define the script tests for. They are packed stripped:
# the debugging information of a RelWithDebInfo build is most of each .exe's size.
set(QMR_INSTALLER_TARGETS qmrctl)
if(TARGET qmrconfig)
  list(APPEND QMR_INSTALLER_TARGETS qmrconfig)
endif()
set(QMR_INSTALLER_DEFINES)
set(QMR_INSTALLER_FILES)
set(QMR_INSTALLER_STRIP)
foreach(program IN LISTS QMR_INSTALLER_TARGETS)
  string(TOUPPER ${program} define)
  set(packed ${QMR_INSTALLER_DIR}/${program}.exe)
  list(APPEND QMR_INSTALLER_DEFINES -D${define}=${packed})
  list(APPEND QMR_INSTALLER_FILES ${packed})
  if(CMAKE_STRIP)
    list(APPEND QMR_INSTALLER_STRIP COMMAND ${CMAKE_STRIP} -o ${packed} $<TARGET_FILE:${program}>)
  else()
    list(APPEND QMR_INSTALLER_STRIP COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}>
         ${packed})
  endif()
endforeach()

add_custom_command(
  OUTPUT ${QMR_INSTALLER}
  BYPRODUCTS ${QMR_INSTALLER_FILES}
  ${QMR_INSTALLER_STRIP}
  COMMAND ${QMR_MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION}
          -DOUTFILE=${QMR_INSTALLER} -DREADME=${QMR_INSTALLER_DIR}/readme.txt
          ${QMR_INSTALLER_DEFINES} ${QMR_INSTALLER_SCRIPT}
  DEPENDS ${QMR_INSTALLER_TARGETS} ${QMR_INSTALLER_SCRIPT} ${QMR_INSTALLER_DIR}/readme.txt
  COMMENT "Packing qmrconfig-setup-${PROJECT_VERSION}.exe"
  VERBATIM)
add_custom_target(installer DEPENDS ${QMR_INSTALLER})

# The test installs silently under Wine into a prefix of its own (made by script/wineprefix,
# so it maps no host serial port), runs the installed qmrctl.exe and uninstalls. Building the
# installer is a test of its own, a fixture, so that ctest builds it first.
if(QMR_BUILD_TESTS)
  enable_testing()
  add_test(NAME installer_build
           COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target installer)
  add_test(NAME installer_install
           COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/install.sh ${QMR_INSTALLER}
                   ${CMAKE_BINARY_DIR}/installer-test ${PROJECT_VERSION} ${QMR_INSTALLER_FILES})
  set_tests_properties(installer_build PROPERTIES LABELS installer TIMEOUT 300
                                                  FIXTURES_SETUP qmr_installer)
  set_tests_properties(installer_install PROPERTIES LABELS installer TIMEOUT 180
                                                    FIXTURES_REQUIRED qmr_installer)
endif()
