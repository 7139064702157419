# jsoncpp and Loki for both targets.
#
# Linux uses Debian's packages as installed. The Windows build compiles
# jsoncpp from Debian's source package, fetched into the build tree, and
# sees only the Loki headers: /usr/include itself would shadow the mingw
# headers.

if(WIN32)
  set(HV_JSONCPP_ROOT ${CMAKE_BINARY_DIR}/_deps/jsoncpp)
  file(GLOB HV_JSONCPP_DIRS LIST_DIRECTORIES true ${HV_JSONCPP_ROOT}/libjsoncpp-*)
  if(NOT HV_JSONCPP_DIRS)
    file(MAKE_DIRECTORY ${HV_JSONCPP_ROOT})
    execute_process(COMMAND apt-get source libjsoncpp
      WORKING_DIRECTORY ${HV_JSONCPP_ROOT} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    file(GLOB HV_JSONCPP_DIRS LIST_DIRECTORIES true ${HV_JSONCPP_ROOT}/libjsoncpp-*)
    if(NOT rc EQUAL 0 OR NOT HV_JSONCPP_DIRS)
      message(FATAL_ERROR "apt-get source libjsoncpp failed (scripts/setup adds the "
                          "deb-src entry it needs): ${err}")
    endif()
  endif()
  list(GET HV_JSONCPP_DIRS 0 HV_JSONCPP_DIR)
  add_library(hv_jsoncpp STATIC
    ${HV_JSONCPP_DIR}/src/lib_json/json_reader.cpp
    ${HV_JSONCPP_DIR}/src/lib_json/json_value.cpp
    ${HV_JSONCPP_DIR}/src/lib_json/json_writer.cpp)
  target_include_directories(hv_jsoncpp SYSTEM PUBLIC ${HV_JSONCPP_DIR}/include)

  set(HV_LOKI_INCLUDE ${CMAKE_BINARY_DIR}/_deps/loki-include)
  if(NOT EXISTS ${HV_LOKI_INCLUDE}/loki)
    file(MAKE_DIRECTORY ${HV_LOKI_INCLUDE})
    file(CREATE_LINK /usr/include/loki ${HV_LOKI_INCLUDE}/loki SYMBOLIC)
  endif()
  add_library(hv_loki INTERFACE)
  target_include_directories(hv_loki SYSTEM INTERFACE ${HV_LOKI_INCLUDE})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
  add_library(hv_jsoncpp INTERFACE)
  target_link_libraries(hv_jsoncpp INTERFACE PkgConfig::JSONCPP)
  if(NOT EXISTS /usr/include/loki/Typelist.h)
    message(FATAL_ERROR "Loki headers missing: run scripts/setup")
  endif()
  add_library(hv_loki INTERFACE)
endif()
