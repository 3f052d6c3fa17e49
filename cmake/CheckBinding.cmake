# Checks how the two libraries bind (run with cmake -P):
#   - libqvbase needs only libc (and libpthread where separate): no C++
#     runtime, no libgcc_s;
#   - libqvjpeg records no dependency on libqvbase, and the only libqvbase
#     functions it references are the ten of its platform binding;
#   - both libraries export every name listed in EXPORTS_FILE, and no C++
#     (mangled) names.
# Inputs: READELF, NM, QVBASE, QVJPEG, EXPORTS_FILE.
cmake_minimum_required(VERSION 3.25)

function(needed_libraries library out)
  execute_process(COMMAND ${READELF} -d ${library} OUTPUT_VARIABLE dynamic
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" entries "${dynamic}")
  list(TRANSFORM entries REPLACE "Shared library: \\[([^]]+)\\]" "\\1")
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

function(dynamic_symbols library flags out)
  execute_process(COMMAND ${NM} -D ${flags} ${library} OUTPUT_VARIABLE listing
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]+" lines "${listing}")
  list(TRANSFORM lines REPLACE "^.* " "")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

set(failures "")

# Every NEEDED entry of `library` must match `allowed`.
function(expect_needed_only library name allowed)
  needed_libraries(${library} needed)
  message(STATUS "${name} NEEDED: ${needed}")
  foreach(entry IN LISTS needed)
    if(NOT entry MATCHES "${allowed}")
      list(APPEND failures "${name} needs ${entry}")
    endif()
  endforeach()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

expect_needed_only(${QVBASE} libqvbase "^(libc\\.so|libpthread\\.so|ld-linux)")
expect_needed_only(${QVJPEG} libqvjpeg "^(libc\\.so|ld-linux)")

set(platform_binding MMemAlloc MMemFree MMemCpy MMemSet MSCsCpy
    MStreamRead MStreamWrite MStreamSeek MStreamTell MStreamFlush)
dynamic_symbols(${QVJPEG} "--undefined-only" jpeg_undefined)
dynamic_symbols(${QVBASE} "--defined-only" base_defined)
foreach(symbol IN LISTS jpeg_undefined)
  if(symbol IN_LIST base_defined AND NOT symbol IN_LIST platform_binding)
    list(APPEND failures "libqvjpeg references libqvbase's ${symbol}")
  endif()
endforeach()
foreach(symbol IN LISTS platform_binding)
  if(NOT symbol IN_LIST jpeg_undefined)
    list(APPEND failures "libqvjpeg does not reference ${symbol}")
  endif()
endforeach()

dynamic_symbols(${QVJPEG} "--defined-only" jpeg_defined)
# Only C names cross the library boundary: no C++ (mangled) symbol leaks.
foreach(symbol IN LISTS base_defined jpeg_defined)
  if(symbol MATCHES "^_Z")
    list(APPEND failures "C++ symbol ${symbol} is exported")
  endif()
endforeach()
file(STRINGS ${EXPORTS_FILE} expected REGEX "^[A-Za-z_]")
foreach(symbol IN LISTS expected)
  if(NOT symbol IN_LIST base_defined AND NOT symbol IN_LIST jpeg_defined)
    list(APPEND failures "${symbol} is not exported")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Binding check failed:\n  ${text}")
endif()
list(LENGTH expected exported_count)
message(STATUS "Binding as intended; ${exported_count} listed names exported")
