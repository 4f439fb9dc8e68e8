vport_add_fuzzer(engine_requests SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_requests_fuzz.cpp LIBS vportd_engine)
