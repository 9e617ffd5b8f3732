#include "NumberPicture.h"
#include "Rounding.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

using kv::FormatPicture;

namespace {

struct PictureCase {
    double value;
    const char* picture;
    char sep;
    const char* expected;
};

TEST(NumberPicture, FormatsLikeThePicturesSay) {
    const PictureCase cases[] = {
        // blanks are copied even left of the first significant digit
        {5, "# ### ##0", '.', "  5"},
        {12345, "# ### ##0", '.', " 12 345"},
        {115200, "# ### ##0", '.', " 115 200"},
        {9600, "# ### ##0", '.', " 9 600"},
        {75, "# ### ##0", '.', "  75"},
        {0, "# ### ### ##0", '.', "   0"},
        {12, "# ### ### ##0", '.', "   12"},
        {1234, "# ### ### ##0", '.', "  1 234"},
        // digits beyond the placeholders go to the first one
        {1234, "000", '.', "1234"},
        {7, "000", '.', "007"},
        {5, "00 000", '.', "00 005"},
        {123456, "00 000", '.', "123 456"},
        // decimals, with either separator, rounded to the placeholders
        {12.345, "0.0", '.', "12.3"},
        {12.345, "0.0", ',', "12,3"},
        {0.5, "0.00", ',', "0,50"},
        {-3.14159, "##0.000", '.', "-3.142"},
        {1.0, "0.##", '.', "1"},
        {1.5, "0.##", '.', "1.5"},
        {-0.01, "0.0", '.', "0.0"},
        {-199.94, "0.0", '.', "-199.9"},
        {999999.94, "0.0", '.', "999999.9"},
        {2.5, "0", '.', "2"},
        {3.5, "0", '.', "4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatPicture(c.value, c.picture, c.sep), c.expected)
            << c.value << " with \"" << c.picture << "\"";
}

TEST(NumberPicture, NonFiniteValuesDoNotCrash) {
    EXPECT_EQ(FormatPicture(std::numeric_limits<double>::quiet_NaN(), "0.0", '.'), "NAN");
    EXPECT_EQ(FormatPicture(-std::numeric_limits<double>::infinity(), "0.0", '.'), "-INF");
    EXPECT_FALSE(FormatPicture(1e300, "# ### ##0", '.').empty());
}

TEST(NumberPicture, ParsesOnlyWithTheLocaleSeparator) {
    struct {
        const char* text;
        char sep;
        bool ok;
        double value;
    } cases[] = {
        {"12,5", ',', true, 12.5}, {"12.5", '.', true, 12.5}, {"12.5", ',', false, 0},
        {" -3 ", '.', true, -3},   {"abc", '.', false, 0},    {"", '.', false, 0},
        {"1,2,3", ',', false, 0},  {"+7", '.', true, 7},      {"5x", '.', false, 0},
        {"1e3", '.', true, 1000},  {"inf", '.', false, 0},    {"+-5", '.', false, 0},
        {"++5", '.', false, 0},    {"-+5", '.', false, 0},    {"+", '.', false, 0},
    };
    for (const auto& c : cases) {
        double v = -1;
        EXPECT_EQ(kv::ParseDecimal(c.text, c.sep, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
}

TEST(Rounding, TiesGoToTheEvenNeighbour) {
    const std::pair<double, std::int64_t> cases[] = {
        {0.5, 0}, {1.5, 2}, {2.5, 2}, {-2.5, -2}, {-127.5, -128}, {31.25, 31},
        {52.5, 52}, {2.4999, 2}, {-0.49, 0}, {1e30, INT64_MAX},
    };
    for (auto [x, want] : cases)
        EXPECT_EQ(kv::RoundHalfEven(x), want) << x;
}

} // namespace
