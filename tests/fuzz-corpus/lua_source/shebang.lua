#!/usr/bin/env lua
return 1
