# Fails when a shared library holds thread-local data of the language
# (a TLS program header). In a library loaded at run time the C library
# allocates that data at each thread's first use and ends the process when
# the allocation fails: a host thread's first log line with memory
# exhausted aborted the host. Per-thread values belong in thread slots.
# Run as: cmake -DREADELF=... -DLIBRARY=... -P check_thread_data.cmake
execute_process(COMMAND ${READELF} -lW "${LIBRARY}" OUTPUT_VARIABLE headers
  ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT headers MATCHES "Program Headers")
  message(FATAL_ERROR "cannot read the program headers of ${LIBRARY}: ${errors}")
endif()
if(headers MATCHES "\n +TLS ")
  message(FATAL_ERROR "${LIBRARY} holds thread-local data (a TLS segment); "
    "the module's per-thread values must sit in thread slots:\n${headers}")
endif()
