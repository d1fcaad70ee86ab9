// Fuzz harness: the formula language of conversion formulas.
//
// Input: the first byte selects the value of X from a small table (0, 1, -1, 3, huge, tiny, not a
// number, infinite, ...) and, by its high bit, whether mdffrm_eval gets the text in an area of
// exactly its length without a terminating zero (as a formula that fills its conversion block);
// the rest is the formula text (cut at its first zero byte).
//
// Every input is evaluated by mdffrm_parse and by mdffrm_eval, and checked against the rules:
//   - the code is 0, 7 or 8, and the result is 0 whenever the code is not 0;
//   - a second evaluation gives the same code and the same bits;
//   - a small independent evaluator in this file (recursive descent over the same tokens, grammar
//     and precedence) agrees: a text it accepts must give its code (0 or 8) and, for 0, the same
//     value bit for bit; a text it rejects must give 7, or 8 when a zero divisor was reduced
//     before the error was seen;
//   - mdffrm_eval leaves the stored text as it is and gives the value of a plain number or of
//     mdffrm_parse on the text prepared as upper case with commas after the leading blanks made
//     points.
#include "mdffrm.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

[[noreturn]] void fail(const char *what, const std::string &text) {
    std::fprintf(stderr, "fuzz_formula: %s for \"%s\"\n", what, text.c_str());
    std::abort();
}

bool same_bits(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// --- the reference evaluator --------------------------------------------------------------------

enum token : int {
    T_END = 256,
    T_NUMBER,
    T_SYMBOL,
    T_DEG,
    T_E,
    T_PI,
    T_X,
    T_ABS, // functions, in the order of the function table
    T_ACOS,
    T_ASIN,
    T_ATAN,
    T_COS,
    T_EXP,
    T_LOG,
    T_LOG10,
    T_POW10,
    T_ROUND,
    T_SIN,
    T_SQR,
    T_SQRT,
    T_TAN,
    T_TRUNC,
};

struct keyword {
    const char *text;
    int token;
};
constexpr keyword keywords[] = {
    {"ABS", T_ABS}, {"ACOS", T_ACOS}, {"ASIN", T_ASIN},   {"ATAN", T_ATAN},   {"COS", T_COS},
    {"EXP", T_EXP}, {"LOG", T_LOG},   {"LOG10", T_LOG10}, {"POW10", T_POW10}, {"ROUND", T_ROUND},
    {"SIN", T_SIN}, {"SQR", T_SQR},   {"SQRT", T_SQRT},   {"TAN", T_TAN},     {"TRUNC", T_TRUNC},
    {"E", T_E},     {"PI", T_PI},     {"x", T_X},         {"X", T_X},
};

bool letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool digit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct syntax_error {};
struct zero_divisor {};

struct reference {
    const unsigned char *pos;
    double x;
    int tok = T_END;
    double number = 0;
    bool evaluate = false; // false: only the syntax is checked

    void next() {
        while (space(*pos)) ++pos;
        const unsigned char c = *pos;
        if (letter(c)) {
            std::string name;
            while (letter(*pos) || digit(*pos) || *pos == '_') {
                if (name.size() < 80) name += static_cast<char>(*pos);
                ++pos;
            }
            tok = T_SYMBOL;
            for (const keyword &k : keywords)
                if (name == k.text) {
                    tok = k.token;
                    break;
                }
            return;
        }
        if (digit(c) || (c == '.' && digit(pos[1]))) {
            const unsigned char *end = pos;
            while (digit(*end)) ++end;
            if (*end == '.') {
                ++end;
                while (digit(*end)) ++end;
            }
            if (*end == 'E' || *end == 'e') {
                const unsigned char *q = end + 1;
                if (*q == '+' || *q == '-') ++q;
                if (digit(*q)) {
                    while (digit(*q)) ++q;
                    end = q;
                }
            }
            const std::string text(pos, end);
            number = std::strtod(text.c_str(), nullptr);
            pos = end;
            tok = T_NUMBER;
            return;
        }
        if (c == 0xF8 || c == '~') {
            ++pos;
            tok = T_DEG;
            return;
        }
        if (c == 0 || c >= 0x80) {
            tok = T_END;
            return;
        }
        ++pos;
        tok = c;
    }

    void expect(int t) {
        if (tok != t) throw syntax_error{};
        next();
    }

    static double to_int32(double a) {
        const double t = std::trunc(a);
        constexpr double limit = 9223372036854775808.0;
        if (!(t >= -limit && t < limit)) return 0.0;
        const auto wide = static_cast<std::uint64_t>(static_cast<std::int64_t>(t));
        return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(wide)));
    }

    static double apply(int f, double a) {
        constexpr double to_rad = 0.017453292519944444, to_deg = 57.29577951307855;
        switch (f) {
        case T_ABS: return std::fabs(a);
        case T_ACOS: return std::acos(a) * to_deg;
        case T_ASIN: return std::asin(a) * to_deg;
        case T_ATAN: return std::atan(a) * to_deg;
        case T_COS: return std::cos(a * to_rad);
        case T_EXP: return std::exp(a);
        case T_LOG: return std::log(a);
        case T_LOG10: return std::log10(a);
        case T_POW10: return std::pow(a, 10.0);
        case T_ROUND: return to_int32(a + 0.5);
        case T_SIN: return std::sin(a * to_rad);
        case T_SQR: return a * a;
        case T_SQRT: return std::sqrt(a);
        case T_TAN: return std::tan(a * to_rad);
        default: return to_int32(a);
        }
    }

    double primary() {
        double v;
        if (tok == T_NUMBER) {
            v = number;
            next();
        } else if (tok == T_E) {
            v = 2.718281828459;
            next();
        } else if (tok == T_PI) {
            v = 3.14159265359;
            next();
        } else if (tok == T_X) {
            v = x;
            next();
        } else if (tok == '(') {
            next();
            v = sum();
            expect(')');
        } else if (tok >= T_ABS && tok <= T_TRUNC) {
            const int f = tok;
            next();
            expect('(');
            const double a = sum();
            expect(')');
            v = apply(f, a);
        } else {
            throw syntax_error{};
        }
        return v;
    }

    // The postfix angle marks, which bind tighter than every operator.
    double angle() {
        double v = primary();
        for (;;) {
            if (tok == T_DEG) {
                next();
                if (tok == T_NUMBER) {
                    const double minutes = number;
                    next();
                    expect('\'');
                    if (tok == T_NUMBER) {
                        const double seconds = number;
                        next();
                        expect('"');
                        v = v + minutes / 60 + seconds / 3600;
                    } else {
                        v = v + minutes / 60;
                    }
                }
            } else if (tok == '\'') {
                next();
                if (tok == T_NUMBER) {
                    const double seconds = number;
                    next();
                    expect('"');
                    v = v / 60 + seconds / 3600;
                } else {
                    v = v / 60;
                }
            } else if (tok == '"') {
                next();
                v = v / 3600;
            } else {
                return v;
            }
        }
    }

    double unary() {
        if (tok == '-') {
            next();
            return -unary();
        }
        if (tok == '+') {
            next();
            return unary();
        }
        return angle();
    }

    double power() {
        double v = unary();
        while (tok == '^') {
            next();
            const double r = unary();
            v = std::pow(v, r);
        }
        return v;
    }

    double product() {
        double v = power();
        while (tok == '*' || tok == '/' || tok == '%') {
            const int op = tok;
            next();
            const double r = power();
            if (op == '*') {
                v = v * r;
            } else if (op == '/') {
                if (r == 0 && evaluate) throw zero_divisor{};
                v = v / r;
            } else {
                v = std::fmod(v, r);
            }
        }
        return v;
    }

    double sum() {
        double v = product();
        while (tok == '+' || tok == '-') {
            const int op = tok;
            next();
            const double r = product();
            v = op == '+' ? v + r : v - r;
        }
        return v;
    }
};

// 0 with *value, 7 for a text outside the language, 8 for a zero divisor in an accepted text.
int reference_eval(double x, const char *text, double *value) {
    reference r{reinterpret_cast<const unsigned char *>(text), x};
    try {
        r.next();
        r.sum();
        if (r.tok != T_END) throw syntax_error{};
    } catch (const syntax_error &) {
        return 7;
    }
    r = reference{reinterpret_cast<const unsigned char *>(text), x};
    r.evaluate = true;
    try {
        r.next();
        *value = r.sum();
    } catch (const zero_divisor &) {
        return 8;
    }
    return 0;
}

constexpr double x_values[] = {0.0,
                               1.0,
                               -1.0,
                               3.0,
                               -0.0,
                               0.5,
                               1e300,
                               -1e-300,
                               std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(),
                               2147483647.5,
                               -4294967296.0,
                               1e19,
                               90.0,
                               255.0,
                               65535.0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const double x = x_values[data[0] % (sizeof x_values / sizeof x_values[0])];
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    text.resize(std::strlen(text.c_str()));

    double result = -1, again = -1;
    const int code = mdffrm_parse(x, text.c_str(), &result);
    if (code != 0 && code != 7 && code != 8) fail("code not 0, 7 or 8", text);
    if (code != 0 && !same_bits(result, 0.0)) fail("result not 0 after an error", text);
    if (mdffrm_parse(x, text.c_str(), &again) != code || !same_bits(result, again))
        fail("second evaluation differs", text);

    // The independent evaluator; deeper nesting than its stack allows is left out (the formula
    // stack is bounded at 10000 entries, one token needs at most one of them).
    if (text.size() < 8000) {
        double expected = 0;
        const int expected_code = reference_eval(x, text.c_str(), &expected);
        if (expected_code == 7) {
            if (code != 7 && code != 8) fail("accepted a text outside the language", text);
        } else if (code != expected_code) {
            fail("code differs from the reference evaluator", text);
        } else if (code == 0 && !same_bits(result, expected)) {
            fail("value differs from the reference evaluator", text);
        }
    }

    // mdffrm_eval: upper case and decimal commas in a copy, then a constant or the formula. The
    // area is either the text with its zero byte or exactly the text's bytes (a bound of its
    // length), so that a read beyond the bound is seen by the sanitizer.
    const bool bounded = (data[0] & 0x80) != 0;
    std::unique_ptr<char[]> area(new char[text.size() + 1]);
    std::memcpy(area.get(), text.data(), text.size());
    area[text.size()] = '\0';
    std::unique_ptr<char[]> tight;
    char *buffer = area.get();
    std::size_t bound = text.size() + 1;
    if (bounded && !text.empty()) {
        tight.reset(new char[text.size()]);
        std::memcpy(tight.get(), text.data(), text.size());
        buffer = tight.get();
        bound = text.size();
    }
    const std::string stored(buffer, bound);
    double y = -1;
    const int eval_code = mdffrm_eval(x, buffer, bound, &y);
    if (std::string(buffer, bound) != stored) fail("mdffrm_eval changed the stored text", text);
    if (eval_code != 0 && !same_bits(y, 0.0))
        fail("mdffrm_eval: result not 0 after an error", text);
    std::string prepared = text;
    for (char &c : prepared)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    std::size_t start = prepared.find_first_not_of(' ');
    if (start == std::string::npos) start = prepared.size();
    for (std::size_t i = start; i < prepared.size(); ++i)
        if (prepared[i] == ',') prepared[i] = '.';
    const std::string rest = prepared.substr(start);
    bool constant = true;
    for (std::size_t i = 0; i < rest.size(); ++i)
        if (!(digit(static_cast<unsigned char>(rest[i])) || rest[i] == '.' ||
              (rest[i] == '-' && i == 0)))
            constant = false;
    if (constant) {
        if (eval_code != 0 || !same_bits(y, std::strtod(rest.c_str(), nullptr)))
            fail("mdffrm_eval read a constant wrongly", text);
    } else {
        double z = -1;
        const int parse_code = mdffrm_parse(x, rest.c_str(), &z);
        if (eval_code != parse_code || !same_bits(y, z))
            fail("mdffrm_eval differs from mdffrm_parse", text);
    }
    return 0;
}
