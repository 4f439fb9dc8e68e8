# The release's identity, shared by the programs' version resources and the
# installer. The version itself is the project's (project() in the top-level
# CMakeLists.txt); nothing else writes it down.
set(CORVANE_PRODUCT_NAME "Corvane")
set(CORVANE_PUBLISHER "Corvane developers")
set(CORVANE_COPYRIGHT "Copyright (C) 2026 Corvane developers")

# "2.9.0" -> "2.9.0.0": resources and installers want four numbers.
function(corvane_four_part_version out version)
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(SUBLIST parts 0 4 parts)
  list(JOIN parts "." joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

# corvane_version_info(TARGET DESCRIPTION text [FILE_VERSION x.y.z])
# Gives a Windows program its version resource: writes version.rc for it from
# resources/version.rc.in and puts it on the target's resource include path,
# where the program's own .rc file includes it with one line,
# #include "version.rc". FILE_VERSION is the program's own version where it
# differs from the release's; the product version is always the release's.
function(corvane_version_info target)
  cmake_parse_arguments(arg "" "DESCRIPTION;FILE_VERSION" "" ${ARGN})
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "corvane_version_info(${target}): DESCRIPTION is required")
  endif()
  if(NOT arg_FILE_VERSION)
    set(arg_FILE_VERSION ${PROJECT_VERSION})
  endif()
  set(VI_DESCRIPTION "${arg_DESCRIPTION}")
  get_target_property(VI_INTERNAL_NAME ${target} OUTPUT_NAME)
  if(NOT VI_INTERNAL_NAME)
    set(VI_INTERNAL_NAME ${target})
  endif()
  set(VI_FILE_NAME "${VI_INTERNAL_NAME}.exe")
  corvane_four_part_version(VI_FILE_VERSION "${arg_FILE_VERSION}")
  corvane_four_part_version(VI_PRODUCT_VERSION "${PROJECT_VERSION}")
  string(REPLACE "." "," VI_FILE_VERSION_COMMAS "${VI_FILE_VERSION}")
  string(REPLACE "." "," VI_PRODUCT_VERSION_COMMAS "${VI_PRODUCT_VERSION}")

  set(out_dir ${CMAKE_BINARY_DIR}/version_info/${target})
  configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${out_dir}/version.rc @ONLY)
  target_include_directories(${target} PRIVATE ${out_dir})
  # The resource compiler's dependency scan does not follow #include, so the
  # target's .rc files are told about version.rc here. A program without a .rc
  # file of its own (a console tool) gets version.rc as its resource file.
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(has_rc FALSE)
  foreach(source ${sources})
    if(source MATCHES "\\.rc$")
      set(has_rc TRUE)
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir})
      set_property(SOURCE ${source} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS
                   ${out_dir}/version.rc)
    endif()
  endforeach()
  if(NOT has_rc)
    target_sources(${target} PRIVATE ${out_dir}/version.rc)
  endif()
endfunction()
