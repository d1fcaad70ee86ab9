// Formula language: conversion texts that compute a physical value from the raw value X.
//
// A text is lexed and evaluated in one bottom-up pass: a shift-reduce parser keeps a stack of
// grammar symbols with their double values and reduces a rule as soon as the rule's right-hand
// side is complete and the lookahead does not bind tighter. Reductions therefore happen in the
// same order as in an LALR(1) parser for the grammar with default reductions, so checks (a zero
// divisor) fire at the same moment and a syntax error behind a division by zero still reports 8.
//
// Precedence, loosest first: binary + -; * / %; ^ (left-associative, 2^3^2 is 64); unary - +;
// the postfix angle marks (degree 0xF8 or ~, minutes ', seconds "). Angles are in degrees.
//
// The evaluation keeps all its state in its own frame: the parser stack starts with 200 entries
// there and moves to the heap only for formulas nested deeper than that (at most 10000 entries),
// so a normal formula allocates nothing and an error leaves nothing behind.
//
// Conversion texts are evaluated for every value of a channel, with the same text again and
// again. mdffrm_eval therefore keeps the compiled form of the texts it has seen, keyed on the
// exact bytes of the prepared text: the parser, run once over the text, records its reductions
// in the order it makes them as postfix code over a stack of doubles (an operand, an operator,
// a function, the constant parts of an angle), and ends the code where it accepts or where it
// finds the text wrong. Running the code does the same double operations in the same order as
// the parse, checks each divisor when its division comes, as the parse does, and meets a syntax
// error at the same point, so every value and every code is the parse's own.

#include "mdffrm.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Tokens of the lexer. Single characters (+ - * / % ^ ( ) ' ") are their own code; an illegal
// character is returned as itself and accepted by no rule.
enum : int {
    TOK_END = 0,
    TOK_UDOUBLE = 257,
    TOK_SYMBOL,
    TOK_DEG,
    TOK_ARC, // named by the token table; never produced
    TOK_RAD, // named by the token table; never produced
    // Function names, in the order of the function table below.
    TOK_ABS,
    TOK_ACOS,
    TOK_ASIN,
    TOK_ATAN,
    TOK_COS,
    TOK_EXP,
    TOK_LOG,
    TOK_LOG10,
    TOK_POW10,
    TOK_ROUND,
    TOK_SIN,
    TOK_SQR,
    TOK_SQRT,
    TOK_TAN,
    TOK_TRUNC,
    // Constants and the variable.
    TOK_E,
    TOK_PI,
    TOK_X,
};

struct Keyword {
    const char *text;
    int token;
};

// Compared in this order, case-sensitively; the text arrives in upper case, X also as x.
constexpr Keyword KEYWORDS[] = {
    {"ABS", TOK_ABS},     {"ACOS", TOK_ACOS},   {"ASIN", TOK_ASIN},   {"ATAN", TOK_ATAN},
    {"COS", TOK_COS},     {"EXP", TOK_EXP},     {"LOG", TOK_LOG},     {"LOG10", TOK_LOG10},
    {"POW10", TOK_POW10}, {"ROUND", TOK_ROUND}, {"SIN", TOK_SIN},     {"SQR", TOK_SQR},
    {"SQRT", TOK_SQRT},   {"TAN", TOK_TAN},     {"TRUNC", TOK_TRUNC}, {"E", TOK_E},
    {"PI", TOK_PI},       {"x", TOK_X},         {"X", TOK_X},
};

constexpr std::size_t IDENT_KEEP = 80; // characters of an identifier that are compared
constexpr unsigned char DEGREE_BYTE = 0xF8;

constexpr double CONST_E = 2.718281828459;
constexpr double CONST_PI = 3.14159265359;
constexpr double DEG_TO_RAD = 0.017453292519944444; // CONST_PI / 180
constexpr double RAD_TO_DEG = 57.29577951307855;    // 180 / CONST_PI

constexpr int CODE_OK = 0;
constexpr int CODE_SYNTAX = 7; // syntax error or parser stack overflow
constexpr int CODE_ZERO_DIVIDE = 8;

bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool is_letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a decimal number (an optional minus sign, digits, point, exponent) from [first, last)
// independently of the locale. Values too large for a double give infinity, too small ones 0, no
// number at all 0.
double scan_decimal(const char *first, const char *last) {
    bool negative = false;
    const char *p = first;
    if (p != last && *p == '-') {
        negative = true;
        ++p;
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(p, last, value, std::chars_format::general);
    if (end == p) return 0.0; // no number at all
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: decide by the decimal order of magnitude.
        long order = 0;
        const char *q = p;
        while (q != end && *q == '0') ++q;
        if (q != end && *q != '.') {
            while (q != end && is_digit(static_cast<unsigned char>(*q))) {
                ++order;
                ++q;
            }
        } else if (q != end) {
            ++q;
            while (q != end && *q == '0') {
                --order;
                ++q;
            }
        }
        while (q != end && *q != 'E' && *q != 'e') ++q;
        if (q != end) {
            ++q;
            bool exp_negative = false;
            if (*q == '+' || *q == '-') exp_negative = *q++ == '-';
            long exponent = 0;
            while (q != end && is_digit(static_cast<unsigned char>(*q)) && exponent < 100000)
                exponent = exponent * 10 + (*q++ - '0');
            order += exp_negative ? -exponent : exponent;
        }
        value = order > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

struct Lexer {
    const unsigned char *pos; // next character to read
    double value;             // value of the last UDOUBLE token
};

// Returns the token that begins at the lexer's position and moves behind it.
int mdffrm_lex(Lexer &lx) {
    const unsigned char *p = lx.pos;
    while (is_space(*p)) ++p;
    const unsigned char c = *p;

    if (is_letter(c)) {
        char kept[IDENT_KEEP + 1];
        std::size_t n = 0;
        while (is_letter(*p) || is_digit(*p) || *p == '_') {
            if (n < IDENT_KEEP) kept[n++] = static_cast<char>(*p);
            ++p;
        }
        kept[n] = '\0';
        lx.pos = p;
        for (const Keyword &k : KEYWORDS)
            if (std::strcmp(kept, k.text) == 0) return k.token;
        return TOK_SYMBOL;
    }

    if (is_digit(c) || (c == '.' && is_digit(p[1]))) {
        const unsigned char *end = p;
        while (is_digit(*end)) ++end;
        if (*end == '.') {
            ++end;
            while (is_digit(*end)) ++end;
        }
        if (*end == 'E' || *end == 'e') {
            const unsigned char *q = end + 1;
            if (*q == '+' || *q == '-') ++q;
            if (is_digit(*q)) {
                while (is_digit(*q)) ++q;
                end = q;
            }
        }
        lx.value =
            scan_decimal(reinterpret_cast<const char *>(p), reinterpret_cast<const char *>(end));
        lx.pos = end;
        return TOK_UDOUBLE;
    }

    if (c == DEGREE_BYTE || c == '~') {
        lx.pos = p + 1;
        return TOK_DEG;
    }
    if (c == '\0' || c >= 0x80) {
        lx.pos = p; // the formula ends here; the rest of the text is ignored
        return TOK_END;
    }
    lx.pos = p + 1;
    return c;
}

// Reduction of a truncated value to a signed 32-bit integer through its low 32 bits. A value that
// is not a number, infinite or does not fit 64 bits gives 0.
double to_int32(double a) {
    const double t = std::trunc(a);
    constexpr double LIMIT = 9223372036854775808.0; // 2^63
    if (!(t >= -LIMIT && t < LIMIT)) return 0.0;
    const auto wide = static_cast<std::uint64_t>(static_cast<std::int64_t>(t));
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(wide)));
}

// Functions the direct parse and the compiled code both call, never inlined, so that both run
// the very same machine instructions for them: the sign and payload of a not-a-number result of
// an operation on two not-a-number operands depend on the order in which the machine takes the
// operands, which the compiler may choose differently at every place an expression stands.
#if defined(_MSC_VER)
#define MDFFRM_OUT_OF_LINE __declspec(noinline)
#elif defined(__clang__)
#define MDFFRM_OUT_OF_LINE __attribute__((noinline))
#else
#define MDFFRM_OUT_OF_LINE __attribute__((noinline, noclone))
#endif

MDFFRM_OUT_OF_LINE double apply_function(int token, double a) {
    switch (token) {
    case TOK_ABS: return std::fabs(a);
    case TOK_ACOS: return std::acos(a) * RAD_TO_DEG;
    case TOK_ASIN: return std::asin(a) * RAD_TO_DEG;
    case TOK_ATAN: return std::atan(a) * RAD_TO_DEG;
    case TOK_COS: return std::cos(a * DEG_TO_RAD);
    case TOK_EXP: return std::exp(a);
    case TOK_LOG: return std::log(a);
    case TOK_LOG10: return std::log10(a);
    case TOK_POW10: return std::pow(a, 10.0);
    case TOK_ROUND: return to_int32(a + 0.5);
    case TOK_SIN: return std::sin(a * DEG_TO_RAD);
    case TOK_SQR: return a * a;
    case TOK_SQRT: return std::sqrt(a);
    case TOK_TAN: return std::tan(a * DEG_TO_RAD);
    case TOK_TRUNC: return to_int32(a);
    default: return 0.0; // not reached: only function tokens are pushed as functions
    }
}

bool is_function(int token) {
    return token >= TOK_ABS && token <= TOK_TRUNC;
}

// Grammar symbols on the parser stack. The entry below the first symbol is the bottom.
enum Kind : std::uint8_t {
    K_BOTTOM,
    K_EXPR,
    K_ADD,
    K_SUB,
    K_MUL,
    K_DIV,
    K_MOD,
    K_POW,
    K_NEG,     // unary minus
    K_POS,     // unary plus
    K_LPAR,    // ( of a parenthesised expression
    K_FUNC,    // function name; value: its token
    K_ARGPAR,  // ( of a function argument
    K_TOKEN,   // a token that its rule reduces at once (number, E, PI, X, ), ")
    K_DEG,     // expr DEG
    K_MINUTES, // expr DEG UDOUBLE
    K_MINMARK, // expr DEG UDOUBLE '
    K_APOS,    // expr '
    K_SECONDS, // ... ' UDOUBLE
};

struct Entry {
    Kind kind;
    double value;
};

constexpr std::size_t STACK_INITIAL = 200;
constexpr std::size_t STACK_MAX = 10000;

// Precedence of a binary operator token or stack symbol; 0 for anything else.
int binary_precedence(int token) {
    switch (token) {
    case '+':
    case '-': return 1;
    case '*':
    case '/':
    case '%': return 2;
    case '^': return 3;
    default: return 0;
    }
}

Kind binary_kind(int token) {
    switch (token) {
    case '+': return K_ADD;
    case '-': return K_SUB;
    case '*': return K_MUL;
    case '/': return K_DIV;
    case '%': return K_MOD;
    default: return K_POW;
    }
}

int kind_precedence(Kind k) {
    switch (k) {
    case K_ADD:
    case K_SUB: return 1;
    case K_MUL:
    case K_DIV:
    case K_MOD: return 2;
    case K_POW: return 3;
    case K_NEG:
    case K_POS: return 4;
    default: return 0;
    }
}

// Symbols after which an operand is expected.
bool expects_operand(Kind k) {
    return k == K_BOTTOM || (k >= K_ADD && k <= K_LPAR) || k == K_ARGPAR;
}

// The compiled form of a text: postfix code and the deepest stack its run needs.
enum Op : std::uint8_t {
    OP_CONST, // push value
    OP_X,     // push the variable
    OP_NEG,   // top = -top
    OP_ADD,   // a b -> a + b, and so on for the binary operators
    OP_SUB,
    OP_MUL,
    OP_DIV, // a zero divisor ends the run with code 8
    OP_MOD,
    OP_POW,
    OP_FUNC,      // top = function (token in `function`) of top
    OP_ADD_CONST, // top = top + value (the minutes and seconds of an angle)
    OP_DIV_CONST, // top = top / value (60 or 3600)
    OP_SYNTAX,    // the parse ends here with code 7
    OP_END,       // the parse accepts: the result is top
};

struct Instruction {
    Op op;
    int function;
    double value;
};

struct Program {
    std::vector<Instruction> code;
    std::size_t depth = 0; // stack entries the run needs
    std::size_t level = 0; // entries while the code is recorded
    void emit(Op op, double value = 0.0, int function = 0) {
        code.push_back({op, function, value});
        if (op == OP_CONST || op == OP_X) {
            if (++level > depth) depth = level;
        } else if (op >= OP_ADD && op <= OP_POW) {
            --level;
        }
    }
};

// The value of a binary operator (OP_ADD to OP_POW); the divisor is checked by the caller.
MDFFRM_OUT_OF_LINE double binary_value(Op op, double a, double b) {
    switch (op) {
    case OP_ADD: return a + b;
    case OP_SUB: return a - b;
    case OP_MUL: return a * b;
    case OP_DIV: return a / b;
    case OP_MOD: return std::fmod(a, b);
    default: return std::pow(a, b);
    }
}

class Parser {
  public:
    explicit Parser(const char *text, Program *record = nullptr) : record_(record) {
        lx_ = {reinterpret_cast<const unsigned char *>(text), 0.0};
    }

    // Parses and evaluates the whole text; returns the code and sets value on success. While
    // recording, the reductions are appended to the program as they are made, the values are
    // of no meaning and no divisor is checked (the code checks them when it runs).
    int run(double x, double &value) {
        const int code = parse(x, value);
        if (record_ != nullptr) record_->emit(code == CODE_OK ? OP_END : OP_SYNTAX);
        return code;
    }

  private:
    int parse(double x, double &value);
    // One step of the parse in each state: after an operator (an operand is expected), inside
    // an angle (degrees, minutes, seconds), with an expression on top. Each gives STEP_ON to go
    // on, or the parse's code.
    static constexpr int STEP_ON = -1;
    int operand_step(double x);
    int angle_step(Kind top);
    int expression_step(double &value);
    void emit(Op op, double value = 0.0, int function = 0) {
        if (record_ != nullptr) record_->emit(op, value, function);
    }

    bool push(Kind kind, double value = 0.0);
    void pop(std::size_t n) { sp_ -= n; }
    Entry &at(std::size_t depth) { return base_[sp_ - 1 - depth]; } // 0 = top
    bool replace(std::size_t n, double value) {
        pop(n);
        return push(K_EXPR, value);
    }
    // Reduces the expression on top with the operator below it; 8 on a zero divisor, else 0.
    int reduce_operator();

    Lexer lx_{};
    int tok_ = TOK_END; // the lookahead token
    Entry local_[STACK_INITIAL];
    std::unique_ptr<Entry[]> heap_;
    Entry *base_ = local_;
    std::size_t cap_ = STACK_INITIAL;
    std::size_t sp_ = 0;
    Program *record_ = nullptr;
};

bool Parser::push(Kind kind, double value) {
    if (sp_ == cap_) {
        if (cap_ >= STACK_MAX) return false; // "parser stack overflow"
        const std::size_t grown = cap_ * 2 > STACK_MAX ? STACK_MAX : cap_ * 2;
        std::unique_ptr<Entry[]> fresh(new (std::nothrow) Entry[grown]);
        // Out of memory is no property of the text: a recording is given up, not kept.
        if (!fresh && record_ != nullptr) throw std::bad_alloc();
        if (!fresh) return false;
        std::memcpy(fresh.get(), base_, sp_ * sizeof(Entry));
        heap_ = std::move(fresh);
        base_ = heap_.get();
        cap_ = grown;
    }
    base_[sp_++] = {kind, value};
    return true;
}

int Parser::reduce_operator() {
    const double b = at(0).value;
    const Kind op = at(1).kind;
    if (op == K_NEG || op == K_POS) {
        if (op == K_NEG) emit(OP_NEG);
        pop(2);
        push(K_EXPR, op == K_NEG ? -b : b);
        return CODE_OK;
    }
    const double a = at(2).value;
    const Op code = op == K_ADD   ? OP_ADD
                    : op == K_SUB ? OP_SUB
                    : op == K_MUL ? OP_MUL
                    : op == K_DIV ? OP_DIV
                    : op == K_MOD ? OP_MOD
                                  : OP_POW;
    double r = 0.0;
    if (record_ != nullptr) {
        emit(code);
    } else {
        if (code == OP_DIV && b == 0.0) return CODE_ZERO_DIVIDE;
        r = binary_value(code, a, b);
    }
    pop(3);
    push(K_EXPR, r);
    return CODE_OK;
}

int Parser::parse(double x, double &value) {
    if (!push(K_BOTTOM)) return CODE_SYNTAX;
    tok_ = mdffrm_lex(lx_);
    for (;;) {
        const Kind top = at(0).kind;
        const bool angle = top == K_DEG || top == K_MINUTES || top == K_MINMARK || top == K_APOS ||
                           top == K_SECONDS;
        const int step = expects_operand(top) ? operand_step(x)
                         : angle              ? angle_step(top)
                                              : expression_step(value);
        if (step != STEP_ON) return step;
    }
}

int Parser::operand_step(double x) {
    double operand = 0.0;
    switch (tok_) {
    case TOK_UDOUBLE: operand = lx_.value; break;
    case TOK_E: operand = CONST_E; break;
    case TOK_PI: operand = CONST_PI; break;
    case TOK_X: operand = x; break;
    case '-':
    case '+':
    case '(':
        if (!push(tok_ == '-' ? K_NEG : tok_ == '+' ? K_POS : K_LPAR)) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    default:
        if (!is_function(tok_)) return CODE_SYNTAX;
        if (!push(K_FUNC, tok_)) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        if (tok_ != '(') return CODE_SYNTAX; // a function takes a parenthesised argument
        if (!push(K_ARGPAR)) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    }
    // The operand token is shifted and reduced to an expression at once.
    if (!push(K_TOKEN) || !replace(1, operand)) return CODE_SYNTAX;
    emit(tok_ == TOK_X ? OP_X : OP_CONST, operand);
    tok_ = mdffrm_lex(lx_);
    return STEP_ON;
}

int Parser::angle_step(Kind top) {
    switch (top) {
    case K_DEG: // expr DEG: minutes may follow
        if (tok_ == TOK_UDOUBLE) {
            if (!push(K_MINUTES, lx_.value)) return CODE_SYNTAX;
            tok_ = mdffrm_lex(lx_);
        } else if (!replace(2, at(1).value)) {
            return CODE_SYNTAX;
        }
        return STEP_ON;
    case K_MINUTES: // expr DEG UDOUBLE: the minutes mark must follow
        if (tok_ != '\'' || !push(K_MINMARK)) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    case K_MINMARK: // expr DEG UDOUBLE ': seconds may follow
    case K_APOS:    // expr ': seconds may follow
        if (tok_ == TOK_UDOUBLE) {
            if (!push(K_SECONDS, lx_.value)) return CODE_SYNTAX;
            tok_ = mdffrm_lex(lx_);
        } else if (top == K_MINMARK) {
            emit(OP_ADD_CONST, at(1).value / 60);
            if (!replace(4, at(3).value + at(1).value / 60)) return CODE_SYNTAX;
        } else {
            emit(OP_DIV_CONST, 60);
            if (!replace(2, at(1).value / 60)) return CODE_SYNTAX;
        }
        return STEP_ON;
    default: { // K_SECONDS, ... ' UDOUBLE: the seconds mark must follow
        if (tok_ != '"' || !push(K_TOKEN)) return CODE_SYNTAX;
        const double seconds = at(1).value / 3600;
        bool pushed;
        if (at(2).kind == K_MINMARK) {
            emit(OP_ADD_CONST, at(3).value / 60);
            emit(OP_ADD_CONST, seconds);
            pushed = replace(6, at(5).value + at(3).value / 60 + seconds);
        } else {
            emit(OP_DIV_CONST, 60);
            emit(OP_ADD_CONST, seconds);
            pushed = replace(4, at(3).value / 60 + seconds);
        }
        if (!pushed) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    }
    }
}

int Parser::expression_step(double &value) {
    if (tok_ == TOK_DEG || tok_ == '\'') {
        if (!push(tok_ == TOK_DEG ? K_DEG : K_APOS)) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    }
    if (tok_ == '"') {
        if (!push(K_TOKEN)) return CODE_SYNTAX;
        emit(OP_DIV_CONST, 3600);
        if (!replace(2, at(1).value / 3600)) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    }
    if (const int prec = binary_precedence(tok_)) {
        // Left-associative: an operator below of the same or a tighter level is reduced first.
        while (kind_precedence(at(1).kind) >= prec)
            if (const int code = reduce_operator()) return code;
        if (!push(binary_kind(tok_))) return CODE_SYNTAX;
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    }
    // Any other lookahead completes every pending operator.
    while (kind_precedence(at(1).kind) > 0)
        if (const int code = reduce_operator()) return code;
    const Kind below = at(1).kind;
    if (tok_ == ')' && (below == K_LPAR || below == K_ARGPAR)) {
        if (!push(K_TOKEN)) return CODE_SYNTAX;
        const double inner = at(1).value;
        if (below == K_LPAR) {
            if (!replace(3, inner)) return CODE_SYNTAX;
        } else {
            pop(3); // arg -> ( expr ), then func -> name arg
            const int function = static_cast<int>(at(0).value);
            emit(OP_FUNC, 0.0, function);
            if (!replace(1, apply_function(function, inner))) return CODE_SYNTAX;
        }
        tok_ = mdffrm_lex(lx_);
        return STEP_ON;
    }
    if (tok_ == TOK_END && below == K_BOTTOM) {
        value = at(0).value;
        return CODE_OK;
    }
    return CODE_SYNTAX;
}

// Runs compiled code with the variable x on stack (room for program.depth entries).
int run_program(const Program &program, double x, double *stack, double &value) {
    std::size_t sp = 0;
    for (const Instruction &i : program.code) {
        switch (i.op) {
        case OP_CONST: stack[sp++] = i.value; break;
        case OP_X: stack[sp++] = x; break;
        case OP_NEG: stack[sp - 1] = -stack[sp - 1]; break;
        case OP_DIV:
            if (stack[sp - 1] == 0.0) return CODE_ZERO_DIVIDE;
            [[fallthrough]];
        case OP_ADD:
        case OP_SUB:
        case OP_MUL:
        case OP_MOD:
        case OP_POW:
            --sp;
            stack[sp - 1] = binary_value(i.op, stack[sp - 1], stack[sp]);
            break;
        case OP_FUNC: stack[sp - 1] = apply_function(i.function, stack[sp - 1]); break;
        case OP_ADD_CONST: stack[sp - 1] = stack[sp - 1] + i.value; break;
        case OP_DIV_CONST: stack[sp - 1] = stack[sp - 1] / i.value; break;
        case OP_SYNTAX: return CODE_SYNTAX;
        case OP_END: value = stack[sp - 1]; return CODE_OK;
        }
    }
    return CODE_SYNTAX; // not reached: every program ends with OP_END or OP_SYNTAX
}

// The compiled texts of mdffrm_eval: a table of slots chosen by a hash of the text, each holding
// the last text compiled into it. A slot keeps its buffers when another text replaces it, so
// evaluating allocates nothing once the texts of a file have been seen. Longer texts are parsed
// directly every time, which bounds the memory of the table (a text's code has at most one
// instruction per byte, plus its end).
constexpr std::size_t CACHE_SLOTS = 64;
constexpr std::size_t CACHE_TEXT_MAX = 1024;

struct CachedText {
    std::string text; // the prepared text, from its first non-blank byte to its end
    Program program;
    bool valid = false;
};

struct FormulaCache {
    CachedText slots[CACHE_SLOTS];
    std::vector<double> stack; // the run's stack, as deep as the deepest cached program needs
    std::string prepared;      // the text of the conversion being evaluated, prepared
    // The stored text evaluated last through a slot, and that slot: the values of a channel
    // come one after another, and they run without preparing and looking up the text again.
    std::string last_stored;
    const CachedText *last = nullptr;
};

FormulaCache &formula_cache() {
    static FormulaCache cache;
    return cache;
}

std::size_t text_hash(const char *text, std::size_t length) {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (std::size_t i = 0; i < length; ++i) {
        h ^= static_cast<unsigned char>(text[i]);
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
}

// The slot with the compiled form of the prepared text [text, text + length) (a zero byte or
// the end of the bound behind it), compiled into it where needed; null when the text cannot be
// cached, to be parsed directly instead.
const CachedText *compiled(const char *text, std::size_t length) {
    if (length > CACHE_TEXT_MAX) return nullptr;
    FormulaCache &cache = formula_cache();
    CachedText &slot = cache.slots[text_hash(text, length) % CACHE_SLOTS];
    if (!slot.valid || slot.text.size() != length ||
        std::memcmp(slot.text.data(), text, length) != 0) {
        try {
            slot.valid = false;
            slot.text.assign(text, length);
            slot.program.code.clear();
            slot.program.depth = 0;
            slot.program.level = 0;
            double ignored = 0.0;
            Parser(slot.text.c_str(), &slot.program).run(0.0, ignored);
            if (cache.stack.size() < slot.program.depth) cache.stack.resize(slot.program.depth);
            slot.valid = true;
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
    }
    return &slot;
}

std::int16_t run_compiled(const CachedText &slot, double x, double *result) {
    double value = 0.0;
    const int code = run_program(slot.program, x, formula_cache().stack.data(), value);
    *result = code == CODE_OK ? value : 0.0;
    return static_cast<std::int16_t>(code);
}

std::size_t strnlen_bounded(const char *text, std::size_t max_length) {
    const void *zero = std::memchr(text, 0, max_length);
    return zero ? static_cast<std::size_t>(static_cast<const char *>(zero) - text) : max_length;
}

} // namespace

std::int16_t mdffrm_parse(double x, const char *text, double *result) {
    double value = 0.0;
    Parser parser(text);
    const int code = parser.run(x, value);
    *result = code == CODE_OK ? value : 0.0;
    return static_cast<std::int16_t>(code);
}

std::int16_t mdffrm_eval(double x, const char *stored, std::size_t max_length, double *result) {
    FormulaCache &cache = formula_cache();
    const std::size_t stored_length = strnlen_bounded(stored, max_length);
    if (cache.last != nullptr && cache.last->valid && cache.last_stored.size() == stored_length &&
        std::memcmp(cache.last_stored.data(), stored, stored_length) == 0)
        return run_compiled(*cache.last, x, result);
    // Prepared in the module's own buffer (its capacity is kept), never in the caller's text.
    std::string &prepared = cache.prepared;
    prepared.assign(stored, stored_length);
    char *const text = prepared.data();
    char *const end = text + prepared.size();
    for (char *c = text; c != end; ++c)
        if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
    char *rest = text;
    while (rest != end && *rest == ' ') ++rest;
    bool constant = true;
    for (char *c = rest; c != end; ++c) {
        if (*c == ',') *c = '.';
        if (!(is_digit(static_cast<unsigned char>(*c)) || *c == '.' || (*c == '-' && c == rest)))
            constant = false;
    }
    if (constant) {
        // A plain number: digits and points, the first character possibly a minus sign; it is
        // read as far as it forms a number.
        const char *stop = rest;
        if (stop != end && *stop == '-') ++stop;
        while (stop != end && is_digit(static_cast<unsigned char>(*stop))) ++stop;
        if (stop != end && *stop == '.') ++stop;
        while (stop != end && is_digit(static_cast<unsigned char>(*stop))) ++stop;
        *result = scan_decimal(rest, stop);
        return CODE_OK;
    }
    const CachedText *slot = compiled(rest, static_cast<std::size_t>(end - rest));
    if (slot == nullptr) return mdffrm_parse(x, rest, result); // the prepared text is terminated
    try {
        cache.last_stored.assign(stored, stored_length);
        cache.last = slot;
    } catch (const std::bad_alloc &) {
        cache.last = nullptr;
    }
    return run_compiled(*slot, x, result);
}
