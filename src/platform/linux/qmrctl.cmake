# qmrctl, the Linux program: the portable command line over this folder's devices.
add_executable(qmrctl qmrctl.cpp)
target_link_libraries(qmrctl PRIVATE qmr_cli qmr_platform qmr_ini_settings Qt6::Core)
install(TARGETS qmrctl)
