# qmr_windows_resources(target DESCRIPTION text): gives a Windows program its version
# resource (maker, product, the project's version, the description) and its embedded
# manifest (src/platform/windows/program.rc.in and program.manifest.in).
function(qmr_windows_resources target)
  cmake_parse_arguments(R "" "DESCRIPTION" "" ${ARGN})
  get_target_property(QMR_RES_NAME ${target} OUTPUT_NAME)
  if(NOT QMR_RES_NAME)
    set(QMR_RES_NAME ${target})
  endif()
  set(QMR_RES_DESCRIPTION "${R_DESCRIPTION}")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/resources-${target})
  set(QMR_RES_MANIFEST ${dir}/${QMR_RES_NAME}.manifest)
  set(templates ${PROJECT_SOURCE_DIR}/src/platform/windows)
  configure_file(${templates}/program.manifest.in ${QMR_RES_MANIFEST} @ONLY)
  configure_file(${templates}/program.rc.in ${dir}/${QMR_RES_NAME}-version.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${QMR_RES_NAME}-version.rc)
  # The manifest is read by windres, not compiled: a change to it must still rebuild.
  set_source_files_properties(${dir}/${QMR_RES_NAME}-version.rc PROPERTIES
                              OBJECT_DEPENDS ${QMR_RES_MANIFEST})
endfunction()
