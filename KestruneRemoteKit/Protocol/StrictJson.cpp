#include "KestruneRemoteKit/Protocol/StrictJson.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>

namespace kestrune::detail {
namespace {

namespace json = boost::json;

// Decimal digits that always fit an unsigned 64-bit accumulator.
constexpr std::size_t kMaxInt64Digits = 19;
// Room on the stack for the parser's intermediate values, enough for every well-formed message.
constexpr std::size_t kStackScratchBytes = 2048;

// Feeds the parser's events into a value_stack like Boost's own parser does, except for numbers
// with a fraction or exponent, which become integers when their text denotes one exactly.
class ExactIntegerHandler {
  public:
    static constexpr std::size_t max_object_size = json::object::max_size();
    static constexpr std::size_t max_array_size = json::array::max_size();
    static constexpr std::size_t max_key_size = json::string::max_size();
    static constexpr std::size_t max_string_size = json::string::max_size();

    ExactIntegerHandler(unsigned char* scratch, std::size_t scratchSize)
        : stack(json::storage_ptr(), scratch, scratchSize) {}

    json::value_stack stack;

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) { return true; }
    bool on_object_begin(json::error_code&) { return true; }
    bool on_object_end(std::size_t n, json::error_code&) {
        stack.push_object(n);
        return true;
    }
    bool on_array_begin(json::error_code&) { return true; }
    bool on_array_end(std::size_t n, json::error_code&) {
        stack.push_array(n);
        return true;
    }
    bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
        stack.push_chars(s);
        return true;
    }
    bool on_key(json::string_view s, std::size_t, json::error_code&) {
        stack.push_key(s);
        return true;
    }
    bool on_string_part(json::string_view s, std::size_t, json::error_code&) {
        stack.push_chars(s);
        return true;
    }
    bool on_string(json::string_view s, std::size_t, json::error_code&) {
        stack.push_string(s);
        return true;
    }
    bool on_number_part(json::string_view s, json::error_code&) {
        numberText_.append(s.data(), s.size());
        return true;
    }
    bool on_int64(std::int64_t i, json::string_view, json::error_code&) {
        numberText_.clear();
        stack.push_int64(i);
        return true;
    }
    bool on_uint64(std::uint64_t u, json::string_view, json::error_code&) {
        numberText_.clear();
        stack.push_uint64(u);
        return true;
    }
    bool on_double(double d, json::string_view s, json::error_code&) {
        numberText_.append(s.data(), s.size());
        if (const auto exact = exactInt64(numberText_)) {
            stack.push_int64(*exact);
        } else {
            stack.push_double(d);
        }
        numberText_.clear();
        return true;
    }
    bool on_bool(bool b, json::error_code&) {
        stack.push_bool(b);
        return true;
    }
    bool on_null(json::error_code&) {
        stack.push_null();
        return true;
    }
    bool on_comment_part(json::string_view, json::error_code&) { return true; }
    bool on_comment(json::string_view, json::error_code&) { return true; }

  private:
    std::string numberText_;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::int64_t> exactInt64(std::string_view text) {
    std::size_t pos = 0;
    const bool negative = pos < text.size() && text[pos] == '-';
    if (negative) ++pos;

    // Significant digits of integer and fraction part together, and the power of ten they carry.
    std::string digits;
    std::int64_t exponent = 0;
    bool sawDigit = false;
    for (; pos < text.size() && isDigit(text[pos]); ++pos) {
        sawDigit = true;
        if (!digits.empty() || text[pos] != '0') digits.push_back(text[pos]);
    }
    if (pos < text.size() && text[pos] == '.') {
        for (++pos; pos < text.size() && isDigit(text[pos]); ++pos) {
            sawDigit = true;
            if (!digits.empty() || text[pos] != '0') digits.push_back(text[pos]);
            --exponent;
        }
    }
    if (!sawDigit) return std::nullopt;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            negativeExponent = text[pos] == '-';
            ++pos;
        }
        if (pos == text.size()) return std::nullopt;
        // Saturates: an exponent this large already decides the outcome.
        constexpr std::int64_t kExponentCap = 1'000'000;
        std::int64_t written = 0;
        for (; pos < text.size() && isDigit(text[pos]); ++pos) {
            written = std::min(kExponentCap, written * 10 + (text[pos] - '0'));
        }
        exponent += negativeExponent ? -written : written;
    }
    if (pos != text.size()) return std::nullopt;

    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    if (digits.empty()) return 0;
    if (exponent < 0) return std::nullopt;
    if (digits.size() + static_cast<std::size_t>(std::min<std::int64_t>(exponent, 100)) >
        kMaxInt64Digits) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    for (char c : digits) magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    for (std::int64_t i = 0; i < exponent; ++i) magnitude *= 10;

    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!negative) {
        if (magnitude > kMax) return std::nullopt;
        return static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > kMax + 1) return std::nullopt;
    return magnitude == kMax + 1 ? std::numeric_limits<std::int64_t>::min()
                                 : -static_cast<std::int64_t>(magnitude);
}

std::optional<json::value> parseJson(std::string_view text, json::storage_ptr sp) {
    unsigned char scratch[kStackScratchBytes];
    json::basic_parser<ExactIntegerHandler> parser(json::parse_options{}, scratch, sizeof scratch);
    parser.handler().stack.reset(std::move(sp));
    json::error_code ec;
    const std::size_t consumed = parser.write_some(false, text.data(), text.size(), ec);
    if (ec || !parser.done() || consumed != text.size()) return std::nullopt;
    return parser.handler().stack.release();
}

}  // namespace kestrune::detail
