#pragma once
// Rows of a test table show their `name` in test listings and failure messages instead of
// their bytes, so that a failing row can be named with ctest -R tomorrow as today. A test
// file takes it into the unnamed namespace its rows are declared in:
//     using testing_support::operator<<;

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace testing_support {

template <class Row>
auto operator<<(std::ostream &os, const Row &row) -> decltype(row.name, os)
{
    return os << row.name;
}

// Names the cases of a table after the `name` of their row.
struct RowName
{
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row> &row) const
    {
        return row.param.name;
    }
};

} // namespace testing_support
