tapforge_bench(bench_model DEPS tapforge_model)
