// What the tests need to see the same behaviour on Linux and on Windows where the two differ by
// design: the line ends of text-mode files, and GoogleTest's regular expressions, which on Windows
// are a simpler kind than on Linux.
#ifndef TRAXCON_PLATFORM_HELPER_H
#define TRAXCON_PLATFORM_HELPER_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>

// Text as written through a text-mode stream on Windows, where every line end is CR LF: given
// back with LF line ends. A line end without its CR cannot come from such a stream and fails the
// current test.
inline std::string from_crlf_text(const std::string &bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            ADD_FAILURE() << "line end without CR at byte " << i << " of a text-mode file";
        text.push_back(bytes[i]);
    }
    return text;
}

// A file or stream written in text mode by this program, with LF line ends on every platform.
inline std::string native_text(const std::string &bytes) {
#ifdef _WIN32
    return from_crlf_text(bytes);
#else
    return bytes;
#endif
}

// Matches a text (a death test's standard error) that contains the POSIX extended regular
// expression, line ends taken as LF, "." matching a line end as well: the meaning GoogleTest's
// patterns have on Linux. On Windows GoogleTest has only simple patterns, in which "." never
// matches a line end and brackets are not known.
class stderr_regex_matcher : public testing::MatcherInterface<const std::string &> {
  public:
    explicit stderr_regex_matcher(std::string pattern)
        : pattern_(std::move(pattern)), regex_(extended(pattern_), std::regex::extended) {}
    bool MatchAndExplain(const std::string &text, testing::MatchResultListener *) const override {
        std::string lf;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n')
                lf.push_back(text[i]);
        return std::regex_search(lf, regex_);
    }
    void DescribeTo(std::ostream *os) const override {
        *os << "contains regular expression \"" << pattern_ << "\"";
    }
    void DescribeNegationTo(std::ostream *os) const override {
        *os << "does not contain regular expression \"" << pattern_ << "\"";
    }

  private:
    // The pattern for std::regex: an escaped character that is not special (as "\\]") stands
    // for itself, as in the C library's regcomp.
    static std::string extended(const std::string &pattern) {
        const std::string special = ".[\\()*+?{|^$";
        std::string out;
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            if (pattern[i] == '\\' && i + 1 < pattern.size() &&
                special.find(pattern[i + 1]) == std::string::npos)
                continue;
            out.push_back(pattern[i]);
            if (pattern[i] == '\\' && i + 1 < pattern.size()) out.push_back(pattern[++i]);
        }
        return out;
    }

    std::string pattern_;
    std::regex regex_;
};

inline testing::Matcher<const std::string &> stderr_regex(const std::string &pattern) {
    return testing::MakeMatcher(new stderr_regex_matcher(pattern));
}

#endif
