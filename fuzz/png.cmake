# The template PNG decoder: template images arrive inside shared script files.
tapforge_fuzzer(fuzz_png fuzz_png.cpp DEPS tapforge_vision)
# A short run over the seed corpus is part of the test command.
add_test(NAME fuzz_png_brief
         COMMAND fuzz_png -runs=3000 -max_len=65536 -rss_limit_mb=1024 ${PROJECT_SOURCE_DIR}/tests/fuzz-corpus/png)
set_tests_properties(fuzz_png_brief PROPERTIES LABELS "fuzz" TIMEOUT 120)
