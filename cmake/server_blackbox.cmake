# Test properties shared by the black-box tests that start tessivane_server (its own and the
# probe's): included by both test folders, whichever of them is configured first.
include_guard(GLOBAL)

# gtest_discover_tests hands list-valued properties on as separate words, so the labels and locks
# are set after discovery, on the tests it found. Label root: without root these tests would run
# on the machine's own ports 2001 and 2002 (a package build leaves them out, as an installed
# daemon may hold those ports).
function(server_blackbox_properties target label)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake")
  file(WRITE "${script}" "if(${target}_TESTS)
  set_tests_properties(\${${target}_TESTS} PROPERTIES
    LABELS \"${label};root\" RESOURCE_LOCK \"udp_ports;product_users\")
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
