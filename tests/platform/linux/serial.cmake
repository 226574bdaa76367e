# The serial port backend on pseudo-terminals, and the COM numbering of the system's ports.
qmr_add_qtest(tst_serialport SOURCES tst_serialport.cpp LIBS qmr_platform)
qmr_add_qtest(tst_portmap SOURCES tst_portmap.cpp LIBS qmr_platform)
# qmrctl against modules behind the real ser2net (RFC 2217 and raw TCP on localhost).
add_test(NAME ser2net_on_qmrsim
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ser2net.sh $<TARGET_FILE:qmrctl> $<TARGET_FILE:qmrsim>)
set_tests_properties(ser2net_on_qmrsim PROPERTIES LABELS qmrsim SKIP_RETURN_CODE 77 TIMEOUT 300)
