#pragma once
// The run-time errors of the program: an overflow, a division by zero, an index out of range.
// Each carries the error number and the text a user is shown when nothing catches it.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

enum class ErrorNumber {
    InvalidProcedureCall = 5,
    Overflow = 6,
    OutOfMemory = 7,
    SubscriptOutOfRange = 9,
    DivisionByZero = 11,
};

class RuntimeError : public std::runtime_error {
public:
    explicit RuntimeError(ErrorNumber number, const std::string& detail = {});
    ErrorNumber Number() const { return m_number; }

private:
    ErrorNumber m_number;
};

// "Run-time error '6': Overflow" and the like.
std::string DescribeError(ErrorNumber number);

// Rounds to the nearest integer, halves to the even neighbour (12.5 → 12, 13.5 → 14), as every
// conversion from floating point to integer in the program does. Throws RuntimeError (overflow)
// for a result outside the 32-bit signed range or a value that is not finite.
int32_t RoundHalfEven(double value);
// The same rounding without the checks, for callers that clamp or test the result themselves:
// the nearest whole number as a double, halves to even, whatever the floating-point rounding
// mode is. NaN and the infinities give NaN.
double RoundHalfEvenWhole(double value);

} // namespace platform
