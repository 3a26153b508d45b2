# vx_add_gtest(<name> SOURCES <files...> LIBRARIES <targets...> [SERIAL] [TIMEOUT <s>])
#
# One GoogleTest executable registered with CTest case by case. SERIAL marks
# every case RUN_SERIAL: use it for anything that forks workers or times a
# benchmark, so that concurrent tests cannot disturb the figures or starve
# the busy-waiting handshakes.
function(vx_add_gtest name)
  cmake_parse_arguments(ARG "SERIAL" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(props TIMEOUT ${ARG_TIMEOUT})
  if(ARG_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()
