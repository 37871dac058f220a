# add_wine_test(NAME n COMMAND prog args... [TIMEOUT s] [WORKING_DIRECTORY d])
# A test that runs a Windows program under Wine, labelled "wine".
set(QUILLO_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/run-wine.sh)
set(QUILLO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

function(add_wine_test)
  cmake_parse_arguments(W "" "NAME;TIMEOUT;WORKING_DIRECTORY" "COMMAND" ${ARGN})
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 300)
  endif()
  if(NOT W_WORKING_DIRECTORY)
    set(W_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  add_test(NAME ${W_NAME}
           COMMAND ${QUILLO_WINE_RUN} ${QUILLO_WINEPREFIX} ${W_TIMEOUT} ${W_COMMAND}
           WORKING_DIRECTORY ${W_WORKING_DIRECTORY})
  math(EXPR outer "${W_TIMEOUT} + 60")
  set_tests_properties(${W_NAME} PROPERTIES LABELS wine TIMEOUT ${outer})
endfunction()
