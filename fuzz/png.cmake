# The template PNG decoder: template images arrive inside shared script files.
tapforge_fuzzer(fuzz_png fuzz_png.cpp DEPS tapforge_vision)
# A short run is part of the test command. New inputs go to a corpus in the build tree; the
# seeds under tests/ are only read.
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/png-corpus)
add_test(NAME fuzz_png_brief
         COMMAND fuzz_png -runs=3000 -max_len=65536 -rss_limit_mb=1024
                 ${CMAKE_CURRENT_BINARY_DIR}/png-corpus ${PROJECT_SOURCE_DIR}/tests/fuzz-corpus/png)
set_tests_properties(fuzz_png_brief PROPERTIES LABELS "fuzz" TIMEOUT 120)
