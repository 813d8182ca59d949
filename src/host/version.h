// Version texts: the accepted forms of a required minimum version, and the
// comparison of the installed version against it.
#ifndef KESTRIN_HOST_VERSION_H_
#define KESTRIN_HOST_VERSION_H_

#include <string_view>

namespace kestrin {

// 1 when `version` has one of the six accepted forms ("*", N, N.*, N.N,
// N.N.*, N.N.N, where N is one or more ASCII digits), else -1.
int IsValidVersion(std::string_view version);

// -1 when `installed` is older than `required`, or `required` is not a
// valid version; 0 otherwise (same, newer, not comparable any further, or
// no minimum at all). Fields are the runs between "." (empty runs skipped)
// and compare as numbers read like atol; the first unequal pair of fields
// that both texts have decides.
int CompareVersion(std::string_view installed, std::string_view required);

}  // namespace kestrin

#endif  // KESTRIN_HOST_VERSION_H_
