// The one vocabulary of failures: the error numbers automation clients see and
// their descriptions, and what any exception means to a caller. Every outer
// edge (COM, the C interface, the bindings, the command) turns a failure into
// its own form from here alone, so the same exception gives the same number
// everywhere; palavox/palavox.h gives C the same numbers by name. Public:
// installed for C++ consumers, who may rely on everything declared here.
#pragma once

#include <new>
#include <stdexcept>

namespace palavox {

inline constexpr int kInvalidArgument = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kTypeMismatch = 13;
// Anything no routine raises on purpose: a fault of ours, never the caller's.
inline constexpr int kInternalError = 51;

// The description of `number`, as Visual Basic words it; never null.
constexpr const char* ErrorDescription(int number) noexcept {
    switch (number) {
        case 0:
            return "No error";
        case kInvalidArgument:
            return "Invalid procedure call or argument";
        case kOverflow:
            return "Overflow";
        case kOutOfMemory:
            return "Out of memory";
        case kTypeMismatch:
            return "Type mismatch";
        case kInternalError:
            return "Internal error";
        default:
            return "Unknown error";
    }
}

class Error : public std::runtime_error {
public:
    explicit Error(int number) : std::runtime_error(ErrorDescription(number)), number_(number) {}
    int number() const noexcept { return number_; }

private:
    int number_;
};

struct Failure {
    int number;
    const char* description;
};

// What the exception being handled means: its number if it is an Error; out
// of memory for std::bad_alloc and std::length_error (a text longer than a
// string can hold); an internal error for anything else. Call it only inside
// a catch block.
inline Failure CurrentFailure() noexcept {
    int number = kInternalError;
    try {
        throw;
    } catch (const Error& e) {
        number = e.number();
    } catch (const std::bad_alloc&) {
        number = kOutOfMemory;
    } catch (const std::length_error&) {
        number = kOutOfMemory;
    } catch (...) {
    }
    return {number, ErrorDescription(number)};
}

// The one way an outer edge calls in: body()'s value, or, whatever body()
// throws, form(CurrentFailure()) — the edge's own form of the failure (an
// HRESULT, a return code, a message).
template <class Body, class Form>
auto Guarded(Body&& body, Form&& form) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        return form(CurrentFailure());
    }
}

}  // namespace palavox
