# Warnings and the no-C++-runtime rules shared by every target.

add_compile_options(-Wall -Wextra -Werror)
# 64-bit file offsets on 32-bit targets too: directory reads and file status
# otherwise fail on large file systems (EOVERFLOW).
add_compile_definitions(_FILE_OFFSET_BITS=64)

option(QV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

option(QV_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(QV_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread)
  add_link_options(-fsanitize=thread)
endif()

# The libraries carry no C++ runtime: no exceptions, no RTTI, no guarded
# statics, and libgcc linked in statically so that libstdc++ and libgcc_s
# never appear among their needed libraries.
function(qv_runtime_free_library target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics
                              -fvisibility-inlines-hidden>)
  target_link_options(${target} PRIVATE -static-libgcc -Wl,--as-needed)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
endfunction()
