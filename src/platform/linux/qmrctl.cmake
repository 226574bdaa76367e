# qmrctl, the Linux program: the portable command line over this folder's devices. Built
# into build/src/cli/, where it always stood.
add_executable(qmrctl qmrctl.cpp)
target_link_libraries(qmrctl PRIVATE qmr_cli qmr_platform qmr_ini_settings Qt6::Core)
set_target_properties(qmrctl PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/src/cli)
install(TARGETS qmrctl)
