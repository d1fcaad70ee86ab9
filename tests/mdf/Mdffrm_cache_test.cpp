// Formula texts evaluated through their compiled form (mdffrm_eval) give the same code and the
// same bits of the result as the direct parse of the prepared text (mdffrm_parse), for the
// formula test vectors and for many random formulas and variable values, texts seen for the
// first time, again and after other texts took their place.

#include "mdffrm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The pieces one after the other.
std::string join(std::initializer_list<std::string_view> pieces) {
    std::string s;
    for (std::string_view p : pieces) s.append(p);
    return s;
}

bool is_constant(const std::string &prepared) {
    std::size_t i = prepared.find_first_not_of(' ');
    if (i == std::string::npos) return true;
    for (std::size_t k = i; k < prepared.size(); ++k) {
        char c = prepared[k];
        if (!((c >= '0' && c <= '9') || c == '.' || (c == '-' && k == i))) return false;
    }
    return true;
}

uint64_t bits_of(double d) {
    uint64_t b = 0;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Evaluates text with x through mdffrm_eval (zero-terminated, or filling its bound when
// terminated is false) and compares with mdffrm_parse of the prepared text. Returns the code.
int expect_same(const std::string &text, double x, bool terminated = true) {
    std::vector<char> area(text.begin(), text.end());
    if (terminated) area.push_back('\0');
    const std::vector<char> stored = area;
    double cached = -1.0;
    const int code = mdffrm_eval(x, area.data(), area.size(), &cached);
    EXPECT_EQ(area, stored) << "the stored text must not change: " << text;
    // Prepared here as the evaluation prepares its copy: upper case, then decimal commas behind
    // the leading blanks; the direct parse starts behind those blanks.
    std::string prepared = text.substr(0, text.find('\0'));
    for (char &c : prepared)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (std::size_t i = prepared.find_first_not_of(' '); i < prepared.size(); ++i)
        if (prepared[i] == ',') prepared[i] = '.';
    if (is_constant(prepared)) return code;
    const std::size_t start = prepared.find_first_not_of(' ');
    double direct = -2.0;
    const int direct_code = mdffrm_parse(x, prepared.c_str() + start, &direct);
    EXPECT_EQ(code, direct_code) << "formula: " << text << " x = " << x;
    EXPECT_EQ(bits_of(cached), bits_of(direct))
        << "formula: " << text << " x = " << x << ": " << cached << " / " << direct;
    return code;
}

const double NAN_X = std::numeric_limits<double>::quiet_NaN();
const double INF_X = std::numeric_limits<double>::infinity();

const std::vector<double> &x_values() {
    static const std::vector<double> xs = {0.0,   -0.0,   1.0,    3.0,   -2.5,   128.0,
                                           1e300, -1e300, 1e-310, INF_X, -INF_X, NAN_X,
                                           90.0,  -7.0,   0.5,    255.0, 1e9,    -1e-9};
    return xs;
}

// The texts of the formula tests and the edge cases of the language.
const std::vector<std::string> &vectors() {
    static const std::vector<std::string> v = {
        "1-2-3",
        "2^3^2",
        "-2^2",
        "2*3%4",
        "8/2/2",
        "2*-3",
        "2--3",
        "2^-2^2",
        "2^-1",
        "1+2*3",
        "(1+2)*3",
        "2*3^2",
        "+-+2",
        "-7%3",
        "10-4+1",
        "X^2",
        "-X^2",
        "x*2",
        "2*X+1",
        "10\xF8"
        "30'",
        "10~30'",
        "1~30'15\"",
        "90'",
        "3600\"",
        "(10)'30\"",
        "10~X'",
        "-3'",
        "2*30'",
        "2^3~",
        "10~",
        "10~30",
        "10~30'15",
        "5'30",
        "1~2'3\"4",
        "SIN(30)",
        "ATAN(1)",
        "COS(0)",
        "POW10(2)",
        "SQR(3)^2",
        "-SQR(3)",
        "ROUND(-2.5)",
        "TRUNC(-2.7)",
        "ROUND(2.4999)",
        "ROUND(2.5)",
        "ROUND(-2.7)",
        "TRUNC(1E20)",
        "ROUND(X)",
        "TRUNC(X)",
        "ABS(X)",
        "ACOS(2)",
        "ASIN(0.5)",
        "EXP(X)",
        "LOG(0)",
        "LOG(X)",
        "LOG10(X)",
        "SQRT(-1)",
        "SQRT(X)",
        "TAN(X)",
        "1E3+1",
        ".5+1",
        "1E400",
        "1E-400*X",
        "1/0",
        "1/(X-3)",
        "X/0",
        "0/0",
        "X%0",
        "0^0",
        "X^0.5",
        "ABC",
        "RAD(1)",
        "ARC(1)",
        "SIN 30",
        "2 3",
        "2(3)",
        "(2)(3)",
        "",
        "   ",
        "(",
        ")",
        "1+",
        "1/0+",
        "1/0 3",
        "1/0)",
        "(1/0",
        "1/X+",
        "2+3\xE4"
        "5",
        "1/0\xE4",
        "X/0*",
        "x+1",
        "0,4*x-40+0,0005*SQR(x-128)",
        "E",
        "PI",
        "E*PI",
        "-E^PI",
        "X@",
        "X#1",
        "1..2",
        "1.2.3",
        "1E",
        "1E+",
        "1e5",
        "sqr(x)+pi*0",
        "0x10",
        "  -12,5",
        "1,5*x",
        "-",
        "42",
        ".25",
        "LOG10(100)",
        "LOG1",
        "LOG10(X)/LOG(X)",
        "((((X))))",
        "-(-(-(X)))",
        "--X",
        "+X",
        "2^-X",
        "X^-2",
        "X%3%2",
        "X-X",
        "X/X",
        "(X-X)/(X-X)",
        "1/(1/X)",
        "1/(X*0)",
        "1/(1/0)",
        "TRUNC(X)/TRUNC(X/2)",
        join({std::string(300, '('), "X", std::string(300, ')')}),
        join({std::string(300, '('), "X", std::string(299, ')')}),
        join({std::string(600, '-'), "X"}),
        join({"1/0+", std::string(600, '(')}),
        join({std::string(400, '('), "1/0", std::string(400, ')')}),
    };
    return v;
}

TEST(MdffrmCache, VectorsAsTheDirectParse) {
    int codes[9] = {};
    for (int round = 0; round < 2; ++round) // seen for the first time, then from the cache
        for (const std::string &text : vectors())
            for (double x : x_values()) ++codes[expect_same(text, x)];
    // The vectors reach every outcome.
    EXPECT_GT(codes[0], 0);
    EXPECT_GT(codes[7], 0);
    EXPECT_GT(codes[8], 0);
}

TEST(MdffrmCache, UnterminatedTextsAsTheDirectParse) {
    for (const std::string &text : vectors())
        if (!text.empty())
            for (double x : x_values()) expect_same(text, x, false);
}

// A random formula of the language (depth-bounded), sometimes mutated into a wrong one.
struct FormulaGen {
    std::mt19937_64 rng;
    explicit FormulaGen(uint64_t seed) : rng(seed) {}

    int pick(int n) { return static_cast<int>(rng() % static_cast<uint64_t>(n)); }

    std::string number() {
        static const char *const fixed[] = {"0",   "1",   "2",      "3",     "0.5", ".25",
                                            "60",  "1E3", "1e-3",   "1E400", "128", "0,4",
                                            "7,5", "90",  "3600.0", "1E-400"};
        if (pick(3) == 0) return fixed[pick(16)];
        return join({std::to_string(pick(1000)), pick(2) ? "." : "",
                     pick(2) ? std::to_string(pick(100)) : ""});
    }

    std::string expr(int depth) {
        static const char *const functions[] = {"ABS", "ACOS", "ASIN",  "ATAN",  "COS",
                                                "EXP", "LOG",  "LOG10", "POW10", "ROUND",
                                                "SIN", "SQR",  "SQRT",  "TAN",   "TRUNC"};
        static const char *const operators[] = {"+", "-", "*", "/", "%", "^"};
        if (depth <= 0 || pick(4) == 0) {
            switch (pick(6)) {
            case 0:
            case 1: return number();
            case 2: return pick(2) ? "X" : "x";
            case 3: return pick(2) ? "E" : "PI";
            default: return join({"(X-", number(), ")"});
            }
        }
        switch (pick(9)) {
        case 0: return join({functions[pick(15)], "(", expr(depth - 1), ")"});
        case 1: return join({"(", expr(depth - 1), ")"});
        case 2: return join({pick(2) ? "-" : "+", expr(depth - 1)});
        case 3: {
            static const char *const marks[] = {"~", "\xF8", "'", "\""};
            std::string angle = join({"(", expr(depth - 1), ")", marks[pick(4)]});
            if (angle.back() == '~' || angle.back() == '\xF8') {
                if (pick(2)) angle += join({number(), "'"});
                if (pick(2)) angle += join({number(), "\""});
            } else if (angle.back() == '\'' && pick(2)) {
                angle += join({number(), "\""});
            }
            return angle;
        }
        default:
            return join(
                {expr(depth - 1), pick(4) == 0 ? " " : "", operators[pick(6)], expr(depth - 1)});
        }
    }

    std::string mutate(std::string s) {
        static const char alphabet[] = "0123456789+-*/%^()'\"~.,xXEPI ABSQRT@#\xF8\xE4";
        const int edits = 1 + pick(3);
        for (int i = 0; i < edits; ++i) {
            const std::size_t at = s.empty() ? 0 : static_cast<std::size_t>(pick(int(s.size())));
            const char c = alphabet[pick(static_cast<int>(sizeof alphabet - 1))];
            switch (pick(3)) {
            case 0: s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), c); break;
            case 1:
                if (!s.empty()) s.erase(at, 1);
                break;
            default:
                if (!s.empty()) s[at] = c;
                break;
            }
        }
        return s;
    }

    std::string formula() {
        std::string f = expr(1 + pick(6));
        if (pick(3) == 0) f = mutate(f);
        if (pick(8) == 0) f = join({"1/(X-", number(), ")", pick(2) ? "+" : "", f});
        return f;
    }

    double x() {
        if (pick(3) == 0) return x_values()[static_cast<std::size_t>(pick(int(x_values().size())))];
        std::uniform_real_distribution<double> d(-1000.0, 1000.0);
        return pick(4) == 0 ? std::trunc(d(rng)) : d(rng);
    }
};

TEST(MdffrmCache, RandomFormulasAsTheDirectParse) {
    FormulaGen gen(20240607);
    int codes[9] = {};
    // Batches of 200 texts evaluated in turn: more texts than the cache has slots, so texts are
    // compiled, found again, replaced by others and compiled anew.
    for (int batch = 0; batch < 25; ++batch) {
        std::vector<std::string> texts;
        for (int i = 0; i < 200; ++i) texts.push_back(gen.formula());
        for (int round = 0; round < 4; ++round)
            for (const std::string &text : texts) ++codes[expect_same(text, gen.x())];
    }
    EXPECT_GT(codes[0], 1000);
    EXPECT_GT(codes[7], 100);
    EXPECT_GT(codes[8], 10);
}

} // namespace
