vport_add_fuzzer(engine_sequence SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_sequence_fuzz.cpp LIBS vportd_engine)
