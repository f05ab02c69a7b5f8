# Configures the project in a scratch folder with one dependency hidden and passes
# when the configuration fails with the one line that names the package to install.
# Run by ctest: cmake -DSOURCE=... -DBINARY=... -DCOMPILER=... -DHIDE=A=ON,B=0 -DEXPECT=regex -P this
file(REMOVE_RECURSE "${BINARY}")
string(REPLACE "," ";" HIDE "${HIDE}")
set(defines)
foreach(definition IN LISTS HIDE)
  list(APPEND defines "-D${definition}")
endforeach()
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BINARY}" "-DCMAKE_CXX_COMPILER=${COMPILER}" ${defines}
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(REMOVE_RECURSE "${BINARY}")
if(status EQUAL 0)
  message(FATAL_ERROR "the configuration succeeded without ${HIDE}:\n${output}")
endif()
string(REGEX MATCH "\n +(mopsel needs [^\n]*)\n" line "${output}")
if(NOT CMAKE_MATCH_1 MATCHES "${EXPECT}")
  message(FATAL_ERROR "no one-line message matching '${EXPECT}':\n${output}")
endif()
message(STATUS "${CMAKE_MATCH_1}")
