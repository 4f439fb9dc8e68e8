vport_add_fuzzer(port_records SOURCES ${CMAKE_CURRENT_LIST_DIR}/port_records_fuzz.cpp LIBS vport_records)
