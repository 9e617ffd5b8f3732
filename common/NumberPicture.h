#pragma once
#include <string>
#include <string_view>

namespace kv {

// The decimal separator of the user's locale. It is read once from the C
// locale (which the application sets from the environment at start-up) and can
// be overridden, so that tests run under both "." and ",".
char DecimalSeparator();
void SetDecimalSeparator(char sep);

// Formats a value with a number picture such as "0.00", "# ### ##0",
// "##0.000", "000" or "00 000":
//  - "0" is a digit that is always written, "#" a digit written only when
//    significant;
//  - the first "." marks the place of the decimal separator (`sep`);
//  - any other character is copied where it stands, also left of the first
//    significant digit;
//  - integer digits beyond the placeholders are all written at the first one;
//  - a negative number begins with "-" before everything else (a value that
//    rounds to zero is written without it);
//  - the value is rounded to the number of decimal placeholders.
// The result is UTF-8 (the picture's own characters are copied byte by byte).
std::string FormatPicture(double value, std::string_view picture, char sep);
inline std::string FormatPicture(double value, std::string_view picture) {
    return FormatPicture(value, picture, DecimalSeparator());
}

// Parses a decimal number typed by the user: optional blanks around it, an
// optional sign, digits with at most one `sep` as the decimal separator, and
// an optional exponent. Nothing else is accepted (no thousands separators, no
// trailing text). Returns false and leaves `out` alone when it does not parse.
bool ParseDecimal(std::string_view text, char sep, double& out);
inline bool ParseDecimal(std::string_view text, double& out) {
    return ParseDecimal(text, DecimalSeparator(), out);
}
// The same text read straight into a single (no rounding to a double on the
// way, which could land a text between two singles on the wrong one). False
// also when the value lies beyond a single's range (it would be an infinity);
// `beyond` then says so, and `out` is left alone.
bool ParseDecimal(std::string_view text, char sep, float& out, bool* beyond = nullptr);

// The shortest text that reads back as the same single, with `sep` as the
// decimal separator: 149.96f is "149.96", not "149.960007". "nan", "inf" and
// "-inf" for what is no number.
std::string SingleText(float value, char sep = '.');
// The double that SingleText's text stands for: a JSON number that shows as
// 149.96 and reads back as the same single (not 149.9600067138672).
double SingleDecimal(float value);

} // namespace kv
