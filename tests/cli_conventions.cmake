# segwork-cli against the command-line conventions that scripts, help2man and the package rely on:
# --version and --help on stdout with status 0, usage errors on stderr with status 2.
# cmake -DCLI=path/to/segwork-cli -DVERSION=x.y.z -P cli_conventions.cmake
set(failures "")

# Runs segwork-cli with the words of `line`; sets status, out and err.
macro(run_cli line)
  set(_line "${line}")
  separate_arguments(_args UNIX_COMMAND "${line}")
  execute_process(COMMAND ${CLI} ${_args} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
endmacro()

macro(fail what)
  string(APPEND failures "'segwork-cli ${_line}' ${what} (status ${status})\n"
         "  stdout: ${out}\n  stderr: ${err}\n")
endmacro()

run_cli("--version")
if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out STREQUAL "segwork-cli ${VERSION}\n")
  fail("should print 'segwork-cli ${VERSION}' on stdout alone and exit with 0")
endif()

foreach(line "--help" "run --help" "bench --help" "sweep --help" "sweep streets --help")
  run_cli("${line}")
  # The usage line names the program, not the path it was started by.
  if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out MATCHES "\nUsage: segwork-cli ")
    fail("should print its help with a usage line for segwork-cli on stdout and exit with 0")
  endif()
endforeach()
run_cli("--help")
foreach(command run bench sweep)
  if(NOT out MATCHES "\n  ${command} ")
    fail("should list the ${command} command")
  endif()
endforeach()

# Usage errors exit with 2, bad values with 1.
foreach(line "" "--no-such-option" "run --no-such-option" "run --steps" "sweep"
        "sweep parameter --parameter radius --radius 3")
  run_cli("${line}")
  if(NOT status EQUAL 2 OR NOT out STREQUAL "" OR err STREQUAL "")
    fail("is a usage error: a message on stderr, nothing on stdout, status 2")
  endif()
endforeach()
foreach(line "run --steps many" "run --steps -1")
  run_cli("${line}")
  if(NOT status EQUAL 1 OR NOT out STREQUAL "" OR err STREQUAL "")
    fail("is a bad value: a message on stderr, nothing on stdout, status 1")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
