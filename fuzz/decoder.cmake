tapforge_fuzzer(fuzz_decoder fuzz_decoder.cpp DEPS tapforge_model)
