# The INI settings file on disk: atomic replace, lock, access rights, size limit, [Ports].
qmr_add_qtest(tst_inisettingsstore
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_inisettingsstore.cpp
  LIBS qmr_ini_settings)
