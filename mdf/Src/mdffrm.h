// Formula language: evaluation of conversion formula texts in one variable, X.
// Needs nothing but the standard library; the library's internal header includes it for the
// conversions.
#ifndef TRAXCON_MDF_MDFFRM_H
#define TRAXCON_MDF_MDFFRM_H

#include <cstddef>
#include <cstdint>

// Evaluates the formula text with its variable set to x. Returns 0 and the formula's value in
// *result, or the error code with *result 0: 7 for a syntax error or a formula nested too deeply,
// 8 for a division by zero. The text ends at its zero byte or at any byte from 0x80 to 0xFF other
// than the degree mark 0xF8. Keeps no state between calls.
std::int16_t mdffrm_parse(double x, const char *text, double *result);

// Evaluates a conversion formula text as stored in a conversion block: the text ends at its
// first zero byte or after max_length bytes. Brings a copy of it to upper case and turns decimal
// commas into points (the stored text is not changed), skips leading blanks, reads a plain number
// (digits and points, a leading minus) directly (an empty text gives 0) and hands anything else
// to mdffrm_parse. Returns the code of mdffrm_parse (0 for a plain number); *result is 0 on
// failure. Texts of up to 1024 bytes are compiled once and kept (keyed on their exact prepared
// bytes), so a text evaluated again is not parsed again; the results are the parse's own.
std::int16_t mdffrm_eval(double x, const char *text, std::size_t max_length, double *result);

#endif
