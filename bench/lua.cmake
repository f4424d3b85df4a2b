# Lua scripting: what the guard's count hook costs on a CPU-bound loop, and how long a stop
# takes to end a busy loop and a Lua sleep on the real clock.
tapforge_bench(bench_lua DEPS tapforge_lua tapforge_platform PkgConfig::LUA)
