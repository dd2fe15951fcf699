// RFC 3339 parsing and formatting on the proleptic Gregorian calendar.
//
// The parser scans left to right and stops at the first fault, so its message names the earliest
// problem: a field whose digits are missing at the end of the text is "premature end of input" even
// when the characters that are there are not digits; a field value beyond its fixed range (month
// 13, hour 24, minute 60, second 61, offset minutes 60..99) is "out of range" as soon as it is
// read; only after the whole text (and the absence of trailing input) is the day checked against
// its month, so Feb 30 is "out of range" too. These orders and texts are chrono's.
//
// Calendar arithmetic uses the days-from-civil algorithm (era of 400 years) on 64-bit integers, so
// every int64 second count formats without overflow and without the C library's time zone state.
#include "time/rfc3339.h"

#include <time.h>

#include "common/invariant.h"

namespace vok {

namespace {

constexpr int64_t kSecondsPerDay = 86'400;

struct CivilDate {
    int64_t year;
    unsigned month; // 1..12
    unsigned day;   // 1..31
};

// Days since 1970-01-01 of a proleptic Gregorian date (valid for every representable year).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400); // 0..399
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146'097 + static_cast<int64_t>(day_of_era) - 719'468;
}

CivilDate civil_from_days(int64_t days) {
    days += 719'468;
    const int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146'097); // 0..146096
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
    const unsigned day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153; // March = 0
    const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const int64_t year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

bool is_leap_year(int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned days_in_month(int64_t year, unsigned month) {
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The scanning steps of the parser over the text not yet consumed.
class Scanner {
public:
    explicit Scanner(std::string_view text) : rest_(text) {}

    std::string_view rest() const { return rest_; }

    // Exactly `count` digits.
    Result<int64_t, Rfc3339Error> digits(size_t count) {
        if (rest_.size() < count) return Err(Rfc3339Error::TooShort);
        int64_t value = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!is_digit(rest_[i])) return Err(Rfc3339Error::Invalid);
            value = value * 10 + (rest_[i] - '0');
        }
        rest_.remove_prefix(count);
        return value;
    }

    // A field of exactly two digits within [low, high].
    Result<int64_t, Rfc3339Error> field(int64_t low, int64_t high) {
        VOK_ASSIGN(int64_t value, digits(2));
        if (value < low || value > high) return Err(Rfc3339Error::OutOfRange);
        return value;
    }

    Result<void, Rfc3339Error> expect(char c) {
        if (rest_.empty()) return Err(Rfc3339Error::TooShort);
        if (rest_.front() != c) return Err(Rfc3339Error::Invalid);
        rest_.remove_prefix(1);
        return Ok();
    }

    // One or more digits after the point; the first nine give the nanoseconds, the rest are
    // skipped.
    Result<uint32_t, Rfc3339Error> nanoseconds() {
        if (rest_.empty()) return Err(Rfc3339Error::TooShort);
        if (!is_digit(rest_.front())) return Err(Rfc3339Error::Invalid);
        uint32_t value = 0;
        size_t count = 0;
        for (; count < 9 && count < rest_.size() && is_digit(rest_[count]); ++count) {
            value = value * 10 + static_cast<uint32_t>(rest_[count] - '0');
        }
        for (size_t i = count; i < 9; ++i)
            value *= 10;
        while (count < rest_.size() && is_digit(rest_[count]))
            ++count;
        rest_.remove_prefix(count);
        return value;
    }

    // "Z", "z", or a sign ("+", "-", U+2212) with two hour digits, ":" and two minute digits.
    // Seconds east of UTC.
    Result<int32_t, Rfc3339Error> offset() {
        if (rest_.empty()) return Err(Rfc3339Error::TooShort);
        if (rest_.front() == 'Z' || rest_.front() == 'z') {
            rest_.remove_prefix(1);
            return 0;
        }
        constexpr std::string_view kMinusSign = "\xE2\x88\x92"; // U+2212
        bool negative;
        if (rest_.front() == '+' || rest_.front() == '-') {
            negative = rest_.front() == '-';
            rest_.remove_prefix(1);
        } else if (rest_.substr(0, kMinusSign.size()) == kMinusSign) {
            negative = true;
            rest_.remove_prefix(kMinusSign.size());
        } else {
            return Err(Rfc3339Error::Invalid);
        }
        if (rest_.size() < 2) return Err(Rfc3339Error::TooShort);
        if (!is_digit(rest_[0]) || !is_digit(rest_[1])) return Err(Rfc3339Error::Invalid);
        int32_t hours = (rest_[0] - '0') * 10 + (rest_[1] - '0');
        rest_.remove_prefix(2);
        VOK_TRY(expect(':'));
        if (rest_.size() < 2) return Err(Rfc3339Error::TooShort);
        if (!is_digit(rest_[0]) || !is_digit(rest_[1])) return Err(Rfc3339Error::Invalid);
        if (rest_[0] >= '6') return Err(Rfc3339Error::OutOfRange);
        int32_t minutes = (rest_[0] - '0') * 10 + (rest_[1] - '0');
        rest_.remove_prefix(2);
        // RFC 3339 allows at most 23:59 either way.
        if (hours > 23) return Err(Rfc3339Error::OutOfRange);
        int32_t seconds = hours * 3600 + minutes * 60;
        return negative ? -seconds : seconds;
    }

private:
    std::string_view rest_;
};

Result<UtcInstant, Rfc3339Error> parse_fields(std::string_view text) {
    Scanner scan(text);
    VOK_ASSIGN(int64_t year, scan.digits(4));
    VOK_TRY(scan.expect('-'));
    VOK_ASSIGN(int64_t month, scan.field(1, 12));
    VOK_TRY(scan.expect('-'));
    VOK_ASSIGN(int64_t day, scan.field(1, 31));

    std::string_view rest = scan.rest();
    if (rest.empty()) return Err(Rfc3339Error::TooShort);
    if (rest.front() != 'T' && rest.front() != 't' && rest.front() != ' ') {
        return Err(Rfc3339Error::Invalid);
    }
    scan = Scanner(rest.substr(1));

    VOK_ASSIGN(int64_t hour, scan.field(0, 23));
    VOK_TRY(scan.expect(':'));
    VOK_ASSIGN(int64_t minute, scan.field(0, 59));
    VOK_TRY(scan.expect(':'));
    VOK_ASSIGN(int64_t second, scan.field(0, 60));
    uint32_t nanos = 0;
    if (!scan.rest().empty() && scan.rest().front() == '.') {
        scan = Scanner(scan.rest().substr(1));
        VOK_ASSIGN(nanos, scan.nanoseconds());
    }
    VOK_ASSIGN(int32_t offset, scan.offset());
    if (!scan.rest().empty()) return Err(Rfc3339Error::TooLong);
    if (static_cast<unsigned>(day) > days_in_month(year, static_cast<unsigned>(month))) {
        return Err(Rfc3339Error::OutOfRange);
    }

    // Second 60 simply counts on into the next minute.
    int64_t local_seconds =
        days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
            kSecondsPerDay +
        hour * 3600 + minute * 60 + second;
    return UtcInstant{local_seconds - offset, nanos};
}

void append_padded(std::string& out, uint64_t value, int width) {
    char buffer[24];
    int length = 0;
    do {
        buffer[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = length; i < width; ++i)
        out.push_back('0');
    while (length > 0)
        out.push_back(buffer[--length]);
}

} // namespace

std::string_view rfc3339_error_text(Rfc3339Error error) {
    switch (error) {
    case Rfc3339Error::OutOfRange:
        return "input is out of range";
    case Rfc3339Error::Impossible:
        return "no possible date and time matching input";
    case Rfc3339Error::NotEnough:
        return "input is not enough for unique date and time";
    case Rfc3339Error::Invalid:
        return "input contains invalid characters";
    case Rfc3339Error::TooShort:
        return "premature end of input";
    case Rfc3339Error::TooLong:
        return "trailing input";
    case Rfc3339Error::BadFormat:
        return "bad or unsupported format string";
    }
    return "input contains invalid characters";
}

Result<UtcInstant, std::string> parse_rfc3339(std::string_view text) {
    auto parsed = parse_fields(text);
    if (!parsed.ok()) return Err(std::string(rfc3339_error_text(parsed.error())));
    return parsed.value();
}

std::string format_rfc3339(UtcInstant instant) {
    VOK_INVARIANT(instant.nanos < 1'000'000'000, "UtcInstant nanoseconds out of range");
    int64_t days = instant.seconds / kSecondsPerDay;
    int64_t second_of_day = instant.seconds % kSecondsPerDay;
    if (second_of_day < 0) {
        second_of_day += kSecondsPerDay;
        --days;
    }
    const CivilDate date = civil_from_days(days);

    std::string text;
    text.reserve(36);
    if (date.year >= 0 && date.year <= 9999) {
        append_padded(text, static_cast<uint64_t>(date.year), 4);
    } else {
        text.push_back(date.year < 0 ? '-' : '+');
        append_padded(text,
                      date.year < 0 ? 0 - static_cast<uint64_t>(date.year)
                                    : static_cast<uint64_t>(date.year),
                      4);
    }
    text.push_back('-');
    append_padded(text, date.month, 2);
    text.push_back('-');
    append_padded(text, date.day, 2);
    text.push_back('T');
    append_padded(text, static_cast<uint64_t>(second_of_day / 3600), 2);
    text.push_back(':');
    append_padded(text, static_cast<uint64_t>(second_of_day / 60 % 60), 2);
    text.push_back(':');
    append_padded(text, static_cast<uint64_t>(second_of_day % 60), 2);
    if (instant.nanos != 0) {
        text.push_back('.');
        if (instant.nanos % 1'000'000 == 0) {
            append_padded(text, instant.nanos / 1'000'000, 3);
        } else if (instant.nanos % 1'000 == 0) {
            append_padded(text, instant.nanos / 1'000, 6);
        } else {
            append_padded(text, instant.nanos, 9);
        }
    }
    text += "+00:00";
    return text;
}

UtcInstant now_utc() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return UtcInstant{static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec)};
}

} // namespace vok
