// Table-driven suites: each case is a struct whose `name` names the test.
#ifndef KESTRIN_TESTS_APP_CASES_H_
#define KESTRIN_TESTS_APP_CASES_H_

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// Instantiates the parameterised `suite` over the cases `...` (a gtest
// generator) and prints a case by its name.
#define KESTRIN_CASES(suite, ...)                                                         \
  [[maybe_unused]] void PrintTo(const suite::ParamType& c, std::ostream* os) { *os << c.name; } \
  INSTANTIATE_TEST_SUITE_P(Cases, suite, __VA_ARGS__,                                      \
                           [](const auto& info) { return std::string(info.param.name); })

#endif  // KESTRIN_TESTS_APP_CASES_H_
