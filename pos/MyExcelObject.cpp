/*
 * Reading POS tables back.
 *
 * A table is a line of column names followed by one line per record, cells
 * separated by blanks and tabs. The Time value "YYYY-MM-DD hh-mm-ss" holds a
 * blank, so it is two tokens, and a record without time may have an empty
 * Time cell, i.e. no token at all. Each data line is therefore read on its
 * own against the header: from its token count we know whether the time is
 * there, and so where the columns after it stand. A line that fits neither
 * count is skipped and counted, and never shifts the next line.
 *
 * Files without a header line are read with the older token rule (a column
 * counter running across lines), so that they give what they always gave.
 *
 * Tables of a long flight run to a million rows, so the file is read in large
 * blocks and parsed as raw bytes: std::from_chars for numbers, and mktime
 * only once per local hour.
 */
#include "MyExcelObject.h"

#include "platform/LocalTime.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

namespace {

using Token = std::string_view;

/* Tokens a line may have and still be a header or a data line. */
constexpr int kMaxTokens = 64;
using Tokens = std::array<Token, kMaxTokens>;

constexpr qint64 kBlockSize = qint64(1) << 20;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

/*
 * Calls `use` with each blank-separated token of a line, cut before its first
 * ",", as cells such as "12.5,3" mean 12.5.
 */
template <typename Use> void forEachToken(std::string_view line, Use use)
{
    size_t i = 0;
    const size_t n = line.size();
    while (true) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i == n)
            return;
        const size_t start = i;
        while (i < n && !isBlank(line[i]))
            ++i;
        const Token token = line.substr(start, i - start);
        use(token.substr(0, token.find(',')));
    }
}

/* Stores the first kMaxTokens tokens of a line; returns how many it has, which may be more. */
int splitTokens(std::string_view line, Tokens &tokens)
{
    int count = 0;
    forEachToken(line, [&](Token token) {
        if (count < kMaxTokens)
            tokens[count] = token;
        ++count;
    });
    return count;
}

bool isHeaderName(Token token)
{
    static constexpr std::array<Token, 10> names = {"ID",    "Lon",  "Lat",     "Alt",  "Heading",
                                                    "Pitch", "Roll", "Psi_GPS", "Time", "Speed"};
    if (token.find("offset") != Token::npos)
        return true;
    for (Token name : names)
        if (token == name)
            return true;
    return false;
}

/* A decimal number, the whole token (a leading "+" allowed); infinities and NaN are no numbers. */
bool parseNumber(Token token, double &value)
{
    if (token.size() > 1 && token[0] == '+' && token[1] != '-')
        token.remove_prefix(1);
    const char *end = token.data() + token.size();
    const auto [ptr, ec] = std::from_chars(token.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

/* The token rule reads a token that is no number as 0. */
double numberOrZero(Token token)
{
    double value = 0;
    return parseNumber(token, value) ? value : 0;
}

bool readDigits(Token token, size_t at, size_t count, int &value)
{
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        const char c = token[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

struct Date {
    bool valid = false;
    int year = 0;
    int month = 0;
    int day = 0;
};

/* "YYYY-MM-DD"; "/" is taken for "-" as well. */
Date parseDate(Token token)
{
    Date date;
    auto isSeparator = [](char c) { return c == '-' || c == '/'; };
    if (token.size() != 10 || !isSeparator(token[4]) || !isSeparator(token[7]))
        return date;
    if (!readDigits(token, 0, 4, date.year) || !readDigits(token, 5, 2, date.month) ||
        !readDigits(token, 8, 2, date.day))
        return date;
    date.valid = date.month >= 1 && date.month <= 12 && date.day >= 1 &&
                 date.day <= daysInMonth(date.year, date.month);
    return date;
}

/* A data cell that holds a date rather than a number: four digits and a date separator. */
bool looksLikeDate(Token token)
{
    int year = 0;
    return token.size() > 4 && (token[4] == '-' || token[4] == '/') &&
           readDigits(token, 0, 4, year);
}

/*
 * Local date and time to seconds since 1970 UTC. The offset of local time
 * changes at most at the start of an hour, so the start of the last hour
 * seen is kept and mktime is asked again only for another hour; with
 * tm_isdst = -1 it decides daylight saving time itself.
 */
class LocalClock {
public:
    quint32 toEpoch(const Date &date, Token clock)
    {
        if (!date.valid || clock.size() != 8)
            return MyExcelObject::InvalidTime;
        auto isSeparator = [](char c) { return c == '-' || c == ':'; };
        int hour = 0;
        int minute = 0;
        int second = 0;
        if (!isSeparator(clock[2]) || !isSeparator(clock[5]) || !readDigits(clock, 0, 2, hour) ||
            !readDigits(clock, 3, 2, minute) || !readDigits(clock, 6, 2, second) || hour > 23 ||
            minute > 59 || second > 59)
            return MyExcelObject::InvalidTime;
        const qint64 key = ((qint64(date.year) * 13 + date.month) * 32 + date.day) * 24 + hour;
        if (key != key_) {
            tm local{};
            local.tm_year = date.year - 1900;
            local.tm_mon = date.month - 1;
            local.tm_mday = date.day;
            local.tm_hour = hour;
            local.tm_isdst = -1;
            time_t start;
            {
                std::lock_guard<std::mutex> lock(localTimeLock());
                start = mktime(&local);
            }
            hourStart_ = start == time_t(-1) ? kNoHour : qint64(start);
            key_ = key;
        }
        if (hourStart_ == kNoHour)
            return MyExcelObject::InvalidTime;
        const qint64 seconds = hourStart_ + minute * 60 + second;
        if (seconds < 0 || seconds >= qint64(MyExcelObject::InvalidTime))
            return MyExcelObject::InvalidTime;
        return quint32(seconds);
    }

private:
    static constexpr qint64 kNoHour = INT64_MIN;
    qint64 key_ = -1;
    qint64 hourStart_ = kNoHour;
};

/* Where the columns the reader needs stand in the header. */
struct Layout {
    int columns = 0;
    int lon = -1;
    int lat = -1;
    int alt = -1;
    int time = -1; /* -1: the table has no Time column */
};

/* A line of column names that names at least the position columns. */
bool headerLayout(const Tokens &tokens, int count, Layout &layout)
{
    if (count > kMaxTokens - 2)
        return false;
    Layout found;
    found.columns = count;
    for (int i = 0; i < count; ++i) {
        const Token name = tokens[i];
        if (!isHeaderName(name))
            return false;
        int *slot = name == "Lon"    ? &found.lon
                    : name == "Lat"  ? &found.lat
                    : name == "Alt"  ? &found.alt
                    : name == "Time" ? &found.time
                                     : nullptr;
        if (slot && *slot < 0)
            *slot = i;
    }
    if (found.lon < 0 || found.lat < 0 || found.alt < 0)
        return false;
    layout = found;
    return true;
}

/*
 * The older rule for tables without a header line: every token that is not
 * a column name advances a counter; tokens 2 to 4 are the position, and the
 * date and time are tokens 10 and 11 after exactly ten column names, tokens
 * 15 and 16 otherwise, after which the counter starts again.
 */
class TokenRule {
public:
    explicit TokenRule(MyExcelObject &out) : out_(out) {}

    void line(std::string_view text)
    {
        ++lines_;
        forEachToken(text, [this](Token t) { token(t); });
    }
    /* Non-empty lines read under this rule. */
    int lines() const { return lines_; }

private:
    void token(Token token)
    {
        if (isHeaderName(token)) {
            ++headerCount_;
            return;
        }
        ++counter_;
        if (counter_ >= 2 && counter_ <= 4) {
            position_[counter_ - 2] = numberOrZero(token);
            if (counter_ == 4)
                out_.positionList.append({position_[0], position_[1], position_[2]});
        }
        const int dateAt = headerCount_ == 10 ? 10 : 15;
        if (counter_ == dateAt) {
            date_ = parseDate(token);
        } else if (counter_ == dateAt + 1) {
            out_.timeList.append(clock_.toEpoch(date_, token));
            counter_ = 0;
        }
    }

    MyExcelObject &out_;
    LocalClock clock_;
    int lines_ = 0;
    int headerCount_ = 0;
    int counter_ = 0;
    double position_[3] = {};
    Date date_;
};

/* Reads lines one by one into the object. */
class TableReader {
public:
    explicit TableReader(MyExcelObject &out) : out_(out), tokenRule_(out) {}

    void line(std::string_view text)
    {
        out_.lineCount += 1 + int(std::count(text.begin(), text.end(), ','));
        const int count = splitTokens(text, tokens_);
        if (count == 0)
            return;
        Layout layout;
        if (headerLayout(tokens_, count, layout)) {
            if (!haveHeader_) {
                /* Lines above the first header line have no columns to be read by. */
                out_.timeList.clear();
                out_.positionList.clear();
                out_.skippedLines += tokenRule_.lines();
                haveHeader_ = true;
            }
            layout_ = layout;
            return;
        }
        if (haveHeader_)
            row(count);
        else
            tokenRule_.line(text);
    }

private:
    /* A data line under the header: with the two time tokens, or without any. */
    void row(int count)
    {
        const Layout &l = layout_;
        int shift = 0;
        if (l.time < 0) {
            if (count != l.columns)
                return skip();
        } else if (count == l.columns + 1) {
            shift = 1;
        } else if (count == l.columns - 1) {
            shift = -1;
            /* A date where the Time cell stood means a line cut short, not a missing time. */
            if (l.time < count && looksLikeDate(tokens_[l.time]))
                return skip();
        } else {
            return skip();
        }
        auto at = [&](int column) { return tokens_[column > l.time ? column + shift : column]; };
        PosPoint point;
        if (!parseNumber(at(l.lon), point.lon) || !parseNumber(at(l.lat), point.lat) ||
            !parseNumber(at(l.alt), point.alt))
            return skip();
        out_.positionList.append(point);
        out_.timeList.append(shift > 0
                                 ? clock_.toEpoch(parseDate(tokens_[l.time]), tokens_[l.time + 1])
                                 : MyExcelObject::InvalidTime);
    }

    void skip() { ++out_.skippedLines; }

    MyExcelObject &out_;
    TokenRule tokenRule_;
    LocalClock clock_;
    Tokens tokens_;
    bool haveHeader_ = false;
    Layout layout_;
};

} // namespace

bool MyExcelObject::load(const QString &source)
{
    const QString path = source; /* the caller may pass this->path itself */
    *this = MyExcelObject();
    this->path = path;
    fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }

    TableReader reader(*this);
    /* A short table gets a buffer of its own size (one more byte sees the end of the file). */
    std::vector<char> buffer(size_t(std::clamp<qint64>(file.size() + 1, 1, kBlockSize)));
    size_t held = 0; /* bytes of an unfinished line at the front of the buffer */
    while (true) {
        if (held == buffer.size())
            buffer.resize(buffer.size() * 2); /* a line longer than the buffer */
        const qint64 got = file.read(buffer.data() + held, qint64(buffer.size() - held));
        if (got < 0) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            break;
        }
        if (got == 0)
            break;
        const char *begin = buffer.data();
        const char *end = begin + held + size_t(got);
        const char *start = begin;
        while (const void *newline = std::memchr(start, '\n', size_t(end - start))) {
            const char *stop = static_cast<const char *>(newline);
            reader.line(std::string_view(start, size_t(stop - start)));
            start = stop + 1;
        }
        held = size_t(end - start);
        std::memmove(buffer.data(), start, held);
    }
    if (held > 0)
        reader.line(std::string_view(buffer.data(), held)); /* the last line had no line end */
    return true;
}

MyExcelObject MyExcelObject::read(const QString &path)
{
    MyExcelObject object;
    object.load(path);
    return object;
}
