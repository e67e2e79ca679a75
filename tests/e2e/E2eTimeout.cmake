# Included by CTest after the discovered test_e2e cases: each gets a 120 s limit.
if(DEFINED test_e2e_TESTS AND test_e2e_TESTS)
  set_tests_properties(${test_e2e_TESTS} PROPERTIES TIMEOUT 120)
endif()
