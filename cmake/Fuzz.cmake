# libFuzzer build (FERRYD_FUZZ=ON, clang only): every library is compiled with the fuzzer's
# coverage instrumentation and ASan+UBSan, and the targets in fuzz/ link libFuzzer itself. The
# normal builds never include this file.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "FERRYD_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()
if(NOT FERRYD_SANITIZE STREQUAL "")
  message(FATAL_ERROR "FERRYD_FUZZ brings its own sanitizers: leave FERRYD_SANITIZE empty")
endif()
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g1")
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
  -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
