# The serial port backend on pseudo-terminals, and the COM numbering of the system's ports.
qmr_add_qtest(tst_serialport SOURCES tst_serialport.cpp LIBS qmr_platform)
qmr_add_qtest(tst_portmap SOURCES tst_portmap.cpp LIBS qmr_platform)
