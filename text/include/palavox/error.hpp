// A failed call: the error number automation clients see, and its description.
#pragma once

#include <stdexcept>

namespace palavox {

class Error : public std::runtime_error {
public:
    Error(int number, const char* description) : std::runtime_error(description), number_(number) {}
    int number() const noexcept { return number_; }

private:
    int number_;
};

inline constexpr int kInvalidArgument = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kTypeMismatch = 13;

}  // namespace palavox
