# Execution engine: how long a stop takes on the real clock while the worker waits or polls.
tapforge_bench(bench_engine DEPS tapforge_engine tapforge_platform_sim)
