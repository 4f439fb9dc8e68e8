# The port driver's dispatch code through the kernel stand-in of
# tests/drivers/kernel; the clang project builds that library here itself.
if(NOT TARGET vport_kernel)
  set(VPORT_KERNEL_LIBRARY_ONLY ON)
  add_subdirectory(${VPORT_FUZZ_REPO_ROOT}/tests/drivers/kernel ${CMAKE_BINARY_DIR}/vport_kernel)
endif()
vport_add_fuzzer(vport_kernel SOURCES ${VPORT_FUZZ_REPO_ROOT}/tests/drivers/kernel/vport_kernel_fuzz.cpp LIBS vport_kernel)
