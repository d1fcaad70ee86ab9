// Formula language: hand-computed values of formula texts, error codes, limits.

#include "mdffrm.h"
#include "mdfint.h" // declares the same operations: both must agree

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

namespace {

struct Eval {
    int code;
    double value;
};

Eval parse(const std::string &text, double x = 0.0) {
    double value = -12345.0;
    const int code = mdffrm_parse(x, text.c_str(), &value);
    return {code, value};
}

double ok(const std::string &text, double x = 0.0) {
    const Eval e = parse(text, x);
    EXPECT_EQ(e.code, 0) << "formula: " << text;
    return e.value;
}

void expect_code(const std::string &text, int code, double x = 0.0) {
    const Eval e = parse(text, x);
    EXPECT_EQ(e.code, code) << "formula: " << text;
    EXPECT_EQ(e.value, 0.0) << "formula: " << text;
}

TEST(MdffrmParse, PrecedenceAndAssociativity) {
    EXPECT_EQ(ok("1-2-3"), -4.0);
    EXPECT_EQ(ok("2^3^2"), 64.0);
    EXPECT_EQ(ok("-2^2"), 4.0);
    EXPECT_EQ(ok("2*3%4"), 2.0);
    EXPECT_EQ(ok("8/2/2"), 2.0);
    EXPECT_EQ(ok("2*-3"), -6.0);
    EXPECT_EQ(ok("2--3"), 5.0);
    EXPECT_EQ(ok("2^-2^2"), 0.0625);
    EXPECT_EQ(ok("2^-1"), 0.5);
    EXPECT_EQ(ok("1+2*3"), 7.0);
    EXPECT_EQ(ok("(1+2)*3"), 9.0);
    EXPECT_EQ(ok("2*3^2"), 18.0);
    EXPECT_EQ(ok("+-+2"), -2.0);
    EXPECT_EQ(ok("-7%3"), -1.0); // remainder takes the sign of the left operand
    EXPECT_EQ(ok("10-4+1"), 7.0);
}

TEST(MdffrmParse, Variable) {
    EXPECT_EQ(ok("X^2", 3.0), 9.0);
    EXPECT_EQ(ok("-X^2", 3.0), 9.0);
    EXPECT_EQ(ok("x*2", 4.0), 8.0);
    EXPECT_EQ(ok("2*X+1", 3.0), 7.0);
}

TEST(MdffrmParse, Angles) {
    EXPECT_EQ(ok("10\xF8"
                 "30'"),
              10.5);
    EXPECT_EQ(ok("10~30'"), 10.5);
    EXPECT_DOUBLE_EQ(ok("1\xF8"
                        "30'15\""),
                     1.5041666666666667);
    EXPECT_DOUBLE_EQ(ok("1~30'15\""), 1.5041666666666667);
    EXPECT_EQ(ok("90'"), 1.5);
    EXPECT_EQ(ok("3600\""), 1.0);
    EXPECT_DOUBLE_EQ(ok("(10)'30\""), 0.175);
    EXPECT_EQ(ok("-3'"), -0.05);
    EXPECT_EQ(ok("2*30'"), 1.0);
    EXPECT_EQ(ok("2^3~"), 8.0);
    EXPECT_EQ(ok("5~"), 5.0);
    EXPECT_EQ(ok("1+2~"), 3.0);
    expect_code("10~X'", 7); // minutes must be a number
    expect_code("10~30", 7); // minutes need their mark
    expect_code("10'30", 7); // seconds need their mark
    expect_code("~30'", 7);  // degrees need a value
}

TEST(MdffrmParse, Functions) {
    EXPECT_NEAR(ok("SIN(30)"), 0.5, 1e-13);
    EXPECT_GT(ok("SIN(30)"), 0.5); // the degree factor is slightly too large
    EXPECT_NEAR(ok("ATAN(1)"), 45.0, 1e-11);
    EXPECT_LT(ok("ATAN(1)"), 45.0);
    EXPECT_EQ(ok("COS(0)"), 1.0);
    EXPECT_NEAR(ok("TAN(45)"), 1.0, 1e-12);
    EXPECT_NEAR(ok("ASIN(1)"), 90.0, 1e-10);
    EXPECT_NEAR(ok("ACOS(0)"), 90.0, 1e-10);
    EXPECT_EQ(ok("POW10(2)"), 1024.0);
    EXPECT_EQ(ok("SQR(3)^2"), 81.0);
    EXPECT_EQ(ok("-SQR(3)"), -9.0);
    EXPECT_EQ(ok("SQRT(16)"), 4.0);
    EXPECT_EQ(ok("ABS(-2.5)"), 2.5);
    EXPECT_EQ(ok("EXP(0)"), 1.0);
    EXPECT_EQ(ok("LOG(1)"), 0.0);
    EXPECT_EQ(ok("LOG10(1000)"), 3.0);
    EXPECT_EQ(ok("ROUND(-2.5)"), -2.0);
    EXPECT_EQ(ok("ROUND(2.5)"), 3.0);
    EXPECT_EQ(ok("ROUND(-2.7)"), -2.0);
    EXPECT_EQ(ok("ROUND(2.4999)"), 2.0);
    EXPECT_EQ(ok("TRUNC(-2.7)"), -2.0);
    EXPECT_EQ(ok("TRUNC(4294967297)"), 1.0); // low 32 bits
    EXPECT_EQ(ok("TRUNC(2147483648)"), -2147483648.0);
    EXPECT_EQ(ok("ABS((1+2)*-3)"), 9.0);
    EXPECT_EQ(ok("SQR(SQR(2))"), 16.0);
    EXPECT_TRUE(std::isnan(ok("SQRT(-1)"))); // domain errors are not language errors
    EXPECT_TRUE(std::isinf(ok("LOG(0)")));
    expect_code("SIN 30", 7);
    expect_code("SIN", 7);
    expect_code("SIN()", 7);
}

TEST(MdffrmParse, IntegerReductionOfNonFiniteAndHugeValues) {
    EXPECT_EQ(ok("TRUNC(SQRT(-1))"), 0.0);
    EXPECT_EQ(ok("ROUND(SQRT(-1))"), 0.0);
    EXPECT_EQ(ok("TRUNC(-LOG(0))"), 0.0);
    EXPECT_EQ(ok("ROUND(LOG(0))"), 0.0);
    EXPECT_EQ(ok("TRUNC(1E19)"), 0.0);
    EXPECT_EQ(ok("ROUND(-1E300)"), 0.0);
    // 2^40 + 5 fits 64 bits; its low 32 bits are 5; -2^63 still fits, 2^63 does not.
    EXPECT_EQ(ok("TRUNC(2^40+5)"), 5.0);
    EXPECT_EQ(ok("TRUNC(-2^63+7)"), 0.0);
    EXPECT_EQ(ok("TRUNC(-(2^32)*3-2)"), -2.0);
}

TEST(MdffrmParse, Numbers) {
    EXPECT_EQ(ok("1E3+1"), 1001.0);
    EXPECT_EQ(ok(".5+1"), 1.5);
    EXPECT_EQ(ok("1.+1"), 2.0);
    EXPECT_EQ(ok("2.5E-1"), 0.25);
    EXPECT_EQ(ok("1E+2"), 100.0);
    EXPECT_EQ(ok("E"), 2.718281828459);
    EXPECT_EQ(ok("PI"), 3.14159265359);
    EXPECT_EQ(ok("  \t12 \r\n"), 12.0);
    EXPECT_TRUE(std::isinf(ok("1E999")));
    EXPECT_EQ(ok("1E-999"), 0.0);
    expect_code("0X10", 7); // no hexadecimal numbers
    expect_code("1E", 7);   // an exponent needs digits: 1 followed by E
    expect_code("2E+", 7);
    expect_code("1.2.3", 7);
    expect_code(".", 7);
    expect_code("INF", 7);
    expect_code("NAN", 7);
}

TEST(MdffrmParse, NumbersIgnoreTheLocale) {
    const char *previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr ||
                       std::setlocale(LC_NUMERIC, "de_DE") != nullptr;
    EXPECT_EQ(ok("1.5*2"), 3.0);
    expect_code("1,5", 7);
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!comma) GTEST_LOG_(INFO) << "no German locale installed; checked in the current locale";
}

TEST(MdffrmParse, EndBytes) {
    EXPECT_EQ(ok("2+3\xE4"
                 "5"),
              5.0);
    EXPECT_EQ(ok("2+3\x80*7"), 5.0);
    EXPECT_EQ(ok("X\xFF garbage (", 4.0), 4.0);
    expect_code("\xE4", 7);
}

TEST(MdffrmParse, SyntaxErrors) {
    expect_code("", 7); // only the end token
    expect_code("   ", 7);
    expect_code("ABC", 7);
    expect_code("RAD(1)", 7);
    expect_code("ARC(1)", 7);
    expect_code("2 3", 7);
    expect_code("2(3)", 7);
    expect_code("(2)(3)", 7);
    expect_code("X X", 7);
    expect_code("(1+2", 7);
    expect_code("1+2)", 7);
    expect_code("1+", 7);
    expect_code("*2", 7);
    expect_code("2,5", 7);
    expect_code("2#3", 7);
    expect_code("2 PI", 7);
    expect_code("SIN(1)(2)", 7);
    expect_code("1\x01", 7);
    // An identifier of more than 80 characters is cut before it is compared.
    expect_code(std::string(100, 'A'), 7);
}

TEST(MdffrmParse, DivisionByZero) {
    expect_code("1/0", 8);
    expect_code("1/(X-3)", 8, 3.0);
    expect_code("1/-0", 8);
    EXPECT_EQ(ok("1/(X-3)", 5.0), 0.5);
    // The division is reduced before the syntax error behind it is seen.
    expect_code("1/0 2", 8);
    expect_code("(1/0", 8);
    // Operands are evaluated left before right: the syntax error in front wins.
    expect_code("2 3/0", 7);
    // The remainder by zero is not a division error.
    EXPECT_TRUE(std::isnan(ok("1%0")));
}

TEST(MdffrmParse, CallableAgainAfterErrors) {
    expect_code("1/0", 8);
    EXPECT_EQ(ok("1+1"), 2.0);
    expect_code("((((", 7);
    EXPECT_EQ(ok("X", 7.0), 7.0);
}

TEST(MdffrmParse, NestingLimit) {
    // Nesting k parentheses around a number needs k + 3 stack entries (the bottom, k parentheses,
    // the expression and the closing parenthesis); the stack holds at most 10000 entries.
    auto nested = [](std::size_t k) { return std::string(k, '(') + "1" + std::string(k, ')'); };
    EXPECT_EQ(ok(nested(150)), 1.0);
    EXPECT_EQ(ok(nested(5000)), 1.0);
    EXPECT_EQ(ok(nested(9997)), 1.0);
    expect_code(nested(9998), 7);
    expect_code(nested(20000), 7);
    expect_code(std::string(50000, '-') + "1", 7);
    EXPECT_EQ(ok(std::string(9000, '-') + "1"), 1.0);
    // A long flat formula needs no depth.
    std::string flat = "0";
    for (int i = 0; i < 20000; ++i) flat += "+1";
    EXPECT_EQ(ok(flat), 20000.0);
}

TEST(MdffrmEval, PreparesTheText) {
    double y = -1.0;
    char linear[] = "2*x+1";
    EXPECT_EQ(mdffrm_eval(3.0, linear, sizeof linear, &y), 0);
    EXPECT_EQ(y, 7.0);
    EXPECT_STREQ(linear, "2*x+1"); // prepared in a copy: the text stays as it was

    char constant[] = "  -12,5";
    EXPECT_EQ(mdffrm_eval(3.0, constant, sizeof constant, &y), 0);
    EXPECT_EQ(y, -12.5);
    EXPECT_STREQ(constant, "  -12,5");

    char comma[] = "1,5*x";
    EXPECT_EQ(mdffrm_eval(4.0, comma, sizeof comma, &y), 0);
    EXPECT_EQ(y, 6.0);
    EXPECT_STREQ(comma, "1,5*x");

    char empty[] = "";
    y = -1.0;
    EXPECT_EQ(mdffrm_eval(4.0, empty, sizeof empty, &y), 0);
    EXPECT_EQ(y, 0.0);

    char blanks[] = "   ";
    y = -1.0;
    EXPECT_EQ(mdffrm_eval(4.0, blanks, sizeof blanks, &y), 0);
    EXPECT_EQ(y, 0.0);

    char number[] = "42";
    EXPECT_EQ(mdffrm_eval(4.0, number, sizeof number, &y), 0);
    EXPECT_EQ(y, 42.0);

    char point[] = ".25";
    EXPECT_EQ(mdffrm_eval(4.0, point, sizeof point, &y), 0);
    EXPECT_EQ(y, 0.25);

    char minus[] = "-";
    EXPECT_EQ(mdffrm_eval(4.0, minus, sizeof minus, &y), 0);
    EXPECT_EQ(y, 0.0);

    char functions[] = "sqr(x)+pi*0";
    EXPECT_EQ(mdffrm_eval(5.0, functions, sizeof functions, &y), 0);
    EXPECT_EQ(y, 25.0);

    char hex[] = "0x10";
    EXPECT_EQ(mdffrm_eval(0.0, hex, sizeof hex, &y), 7);
    EXPECT_EQ(y, 0.0);

    char divide[] = "x/0";
    y = -1.0;
    EXPECT_EQ(mdffrm_eval(1.0, divide, sizeof divide, &y), 8);
    EXPECT_EQ(y, 0.0);

    // The text ends at its bound when no zero byte comes first; nothing of it changes.
    char bounded[] = {'2', '*', 'x', 'x', ',', '5'};
    EXPECT_EQ(mdffrm_eval(4.0, bounded, 3, &y), 0);
    EXPECT_EQ(y, 8.0);
    EXPECT_EQ(std::string(bounded, 6), "2*xx,5");
    char digits[] = {' ', '1', ',', '5', ',', '7'};
    EXPECT_EQ(mdffrm_eval(4.0, digits, 4, &y), 0);
    EXPECT_EQ(y, 1.5);
    EXPECT_EQ(std::string(digits, 6), " 1,5,7");
    std::vector<char> heap = {'x', '+', '1'}; // exactly the text, no room behind it
    EXPECT_EQ(mdffrm_eval(1.0, heap.data(), heap.size(), &y), 0);
    EXPECT_EQ(y, 2.0);

    // Bytes above 0x7F are left alone by the upper-casing.
    char degrees[] = "1\xF8"
                     "30'";
    EXPECT_EQ(mdffrm_eval(0.0, degrees, sizeof degrees, &y), 0);
    EXPECT_EQ(y, 1.5);
}

} // namespace
