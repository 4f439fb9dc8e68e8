vport_add_fuzzer(bridge_records SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_records_fuzz.cpp LIBS vport_records)
