#include "NumberPicture.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <optional>

namespace kv {

namespace {

std::optional<char>& SeparatorOverride() {
    static std::optional<char> sep;
    return sep;
}

bool IsPlaceholder(char c) { return c == '0' || c == '#'; }

} // namespace

char DecimalSeparator() {
    if (auto& s = SeparatorOverride(); s)
        return *s;
    const std::lconv* lc = std::localeconv();
    if (lc && lc->decimal_point && lc->decimal_point[0] != '\0' && lc->decimal_point[1] == '\0')
        return lc->decimal_point[0];
    return '.';
}

void SetDecimalSeparator(char sep) { SeparatorOverride() = sep; }

std::string FormatPicture(double value, std::string_view picture, char sep) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";

    const std::size_t dot = picture.find('.');
    const std::string_view intPic = picture.substr(0, dot);
    const std::string_view fracPic =
        dot == std::string_view::npos ? std::string_view{} : picture.substr(dot + 1);

    int fracPlaces = 0;
    for (char c : fracPic)
        if (IsPlaceholder(c))
            ++fracPlaces;

    // Exact decimal rounding of the binary value, independent of the C locale.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                   std::chars_format::fixed, fracPlaces);
    const std::string_view digits(buf, res.ptr - buf);
    const std::size_t p = digits.find('.');
    std::string_view intDigits = digits.substr(0, p);
    const std::string_view fracDigits =
        p == std::string_view::npos ? std::string_view{} : digits.substr(p + 1);

    bool zero = true;
    for (char c : digits)
        if (c >= '1' && c <= '9')
            zero = false;

    while (!intDigits.empty() && intDigits.front() == '0')
        intDigits.remove_prefix(1);

    std::string out;
    if (value < 0 && !zero)
        out += '-';

    int intPlaces = 0;
    for (char c : intPic)
        if (IsPlaceholder(c))
            ++intPlaces;
    const int m = static_cast<int>(intDigits.size());
    if (intPlaces == 0)
        out.append(intDigits);

    int k = 0;
    for (char c : intPic) {
        if (!IsPlaceholder(c)) {
            out += c;
            continue;
        }
        if (k == 0 && m > intPlaces)
            out.append(intDigits.substr(0, m - intPlaces));
        const int r = intPlaces - 1 - k; // position counted from the right
        if (r < m)
            out += intDigits[m - 1 - r];
        else if (c == '0')
            out += '0';
        ++k;
    }

    if (dot != std::string_view::npos) {
        // A "#" after the separator is written only while a non-zero digit
        // follows at or after it.
        int lastSignificant = -1;
        for (int i = 0; i < static_cast<int>(fracDigits.size()); ++i)
            if (fracDigits[i] != '0')
                lastSignificant = i;
        std::string frac;
        bool anyDigit = false;
        int j = 0;
        for (char c : fracPic) {
            if (!IsPlaceholder(c)) {
                frac += c;
                continue;
            }
            if (c == '0' || j <= lastSignificant) {
                frac += fracDigits[j];
                anyDigit = true;
            }
            ++j;
        }
        if (anyDigit)
            out += sep;
        out += frac;
    }
    return out;
}

namespace {

// The text as from_chars takes it: blanks around it gone, `sep` as a full
// stop, one leading plus dropped. False when it cannot be a number.
bool NormalizeDecimal(std::string_view text, char sep, std::string& s) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 64)
        return false;
    s.assign(text);
    bool seenSep = false;
    for (char& c : s) {
        if (c == sep) {
            if (seenSep)
                return false;
            seenSep = true;
            c = '.';
        } else if (c == '.') {
            return false; // a full stop that is not the separator
        }
    }
    // One sign only: from_chars takes a minus itself, so a plus is dropped
    // here and a sign after it ("+-5") refused.
    if (s.front() == '+') {
        s.erase(0, 1);
        if (s.empty() || s.front() == '-' || s.front() == '+')
            return false;
    }
    return true;
}

} // namespace

bool ParseDecimal(std::string_view text, char sep, double& out) {
    std::string s;
    if (!NormalizeDecimal(text, sep, s))
        return false;
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ec != std::errc{} || r.ptr != s.data() + s.size() || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

bool ParseDecimal(std::string_view text, char sep, float& out, bool* beyond) {
    if (beyond)
        *beyond = false;
    std::string s;
    double wide = 0;
    if (!ParseDecimal(text, sep, wide) || !NormalizeDecimal(text, sep, s))
        return false;
    float v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range && std::fabs(wide) < 1.0) {
        // Below the smallest single: it is a zero of its sign.
        out = std::signbit(wide) ? -0.0f : 0.0f;
        return true;
    }
    if (r.ec != std::errc{} || r.ptr != s.data() + s.size() || !std::isfinite(v)) {
        if (beyond)
            *beyond = true;
        return false;
    }
    out = v;
    return true;
}

std::string SingleText(float value, char sep) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == '.')
            c = sep;
    return s;
}

double SingleDecimal(float value) {
    if (!std::isfinite(value))
        return value;
    const std::string text = SingleText(value);
    double d = value;
    std::from_chars(text.data(), text.data() + text.size(), d);
    return d;
}

} // namespace kv
