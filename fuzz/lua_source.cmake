# Loading a Lua step's file: text only, size cap, never a crash whatever the bytes.
tapforge_fuzzer(fuzz_lua_source fuzz_lua_source.cpp DEPS tapforge_lua PkgConfig::LUA)
