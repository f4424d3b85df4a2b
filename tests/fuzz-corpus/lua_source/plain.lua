local t = {} for i = 1, 3 do t[i] = i * 2 end return t[3]
