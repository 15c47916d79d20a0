// The size of a change that was found because it was large. A change with
// few calls on one side is found only where the noise of those calls added
// to it: of small steps near either end of a series, only the few that the
// noise enlarged clear the bar, and an interval that ignores this is too
// far from 1 far more often than it says. Conditioning on having been found
// (the difference d of the two levels' means, normal about the true one
// with spread sd, is found only where |d| exceeds bound) gives an interval
// that holds at its stated confidence among the changes found, and a median
// estimate; far beyond the bar it is the usual normal one. Inference after
// selection by a threshold, as published for change points and regression.
#pragma once

namespace ptrun {

struct SelectiveSize {
    double estimate = 0, low = 0, high = 0;  // of the true difference, in d's unit
};

// d, sd and bound in one unit, sd and bound above 0; where |d| does not
// exceed bound, nothing is conditioned on and the normal interval is given.
SelectiveSize selective_size(double d, double sd, double bound, double confidence);

}  // namespace ptrun
