// A two-dimensional complex FFT for the template search's cross terms: radix 2, iterative,
// in double precision, on split real and imaginary planes of w x h values (powers of two,
// w >= 4, rows w values apart). Four columns or four rows sit in the lanes of one vector, so
// no butterfly needs a shuffle. Callable from any thread; scratch and twiddles are per thread.
#pragma once

#include <atomic>

namespace tapforge::vision {

// Transforms in place, unnormalised (sign -1 in the exponent). Only the first `rowsIn` rows
// may hold non-zero values. False, with the planes in no useful state, when `stop` was seen.
bool fftForward(double* re, double* im, int w, int h, int rowsIn, const std::atomic<bool>* stop);

// w * h times the inverse transform, in place; only the first `rowsOut` rows of the result are
// computed (the others hold partial values).
bool fftInverse(double* re, double* im, int w, int h, int rowsOut, const std::atomic<bool>* stop);

}  // namespace tapforge::vision
