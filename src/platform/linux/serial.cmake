# The Linux edge of the link: the serial port through QSerialPort, the port map over the
# system's devices, the clock, the Qt event wait and the frame log. Front ends on every
# platform link the same name.
add_library(qmr_platform STATIC
  eventwait.cpp eventwait.h
  framelog.cpp framelog.h
  qtserialportbackend.cpp qtserialportbackend.h
  systemclock.cpp systemclock.h
  systemport.cpp systemport.h
  systemportmap.cpp systemportmap.h
  tcpsocket.cpp tcpsocket.h
)
# Public: the backend's and the frame log's headers carry Qt types.
target_link_libraries(qmr_platform PUBLIC qmr_link Qt6::Core Qt6::SerialPort)
