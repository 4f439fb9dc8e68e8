vport_add_fuzzer(serial_requests SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_requests_fuzz.cpp LIBS vport_records)
