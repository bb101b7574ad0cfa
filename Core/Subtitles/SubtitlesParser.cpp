#include "SubtitlesParser.h"

#include "Time.h"
#include "Utils.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace {

bool isLineEnd(QChar c)
{
    switch (c.unicode()) {
    case 0x0A:   // line feed
    case 0x0B:   // vertical tab
    case 0x0C:   // form feed
    case 0x0D:   // carriage return
    case 0x85:   // next line
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
        return true;
    default:
        return false;
    }
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Whether lone carriage returns end the lines of text: when they outnumber the line feeds.
bool carriageReturnsEndLines(QStringView text)
{
    qsizetype lone = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'))
            ++lone;
    return lone > text.count(u'\n');
}

// The number (from 1) of the line of text that holds position at.
qsizetype lineNumber(QStringView text, qsizetype at, bool carriageReturns)
{
    qsizetype line = 1;
    for (qsizetype i = 0; i < at && i < text.size(); ++i)
        if (text[i] == u'\n' ||
            (carriageReturns && text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n')))
            ++line;
    return line;
}

// "line N: 'text'", the text cut short when it is long.
QString lineProblem(qsizetype number, QString text)
{
    constexpr qsizetype longest = 100;
    if (text.size() > longest)
        text = text.left(longest) + QStringLiteral("...");
    return QStringLiteral("line %1: '%2'").arg(QString::number(number), text);
}

// The line of text around position at, between its line ends.
QString lineAround(QStringView text, qsizetype at)
{
    qsizetype from = std::min(at, text.size());
    while (from > 0 && !isLineEnd(text[from - 1]))
        --from;
    qsizetype to = std::min(at, text.size());
    while (to < text.size() && !isLineEnd(text[to]))
        ++to;
    return text.sliced(from, to - from).toString();
}

void tell(QString *problem, const QString &why)
{
    if (problem)
        *problem = why;
}

QStringList splitLines(const QString &block)
{
    QStringList lines;
    qsizetype from = 0;
    for (qsizetype i = 0; i < block.size(); ++i) {
        if (isLineEnd(block[i])) {
            lines.append(block.mid(from, i - from));
            from = i + 1;
        }
    }
    lines.append(block.mid(from));
    return lines;
}

} // namespace

std::optional<SubtitlesParser> SubtitlesParser::fromFile(const QString &path, QString *problem)
{
    const std::optional<QString> text = readText(path, problem);
    if (!text)
        return std::nullopt;
    return fromText(*text, problem);
}

std::optional<SubtitlesParser> SubtitlesParser::fromText(const QString &text, QString *problem)
{
    if (detectType(text, problem) != SubtitleType::SubRip)
        return std::nullopt;
    SubtitlesParser parser;
    if (!parser.parse(text, problem))
        return std::nullopt;
    return parser;
}

std::optional<QString> SubtitlesParser::fileProblem(const QString &path)
{
    return Utils::inputFileProblem(path, maximumFileSize, QStringLiteral("subtitles file"));
}

std::optional<QString> SubtitlesParser::readText(const QString &path, QString *problem)
{
    if (const std::optional<QString> why = fileProblem(path)) {
        tell(problem, *why);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        tell(problem, file.errorString());
        return std::nullopt;
    }
    // The file may have grown since it was looked at.
    const QByteArray bytes = file.read(maximumFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        tell(problem, file.errorString());
        return std::nullopt;
    }
    if (bytes.size() > maximumFileSize) {
        tell(problem, QStringLiteral("it is larger than a subtitles file can be"));
        return std::nullopt;
    }

    struct Mark {
        QByteArrayView bytes;
        QStringConverter::Encoding encoding;
    };
    // UTF-32 LE must be tried before UTF-16 LE, whose mark is its prefix.
    static const Mark marks[] = {
        {QByteArrayView("\xFF\xFE\x00\x00", 4), QStringConverter::Utf32LE},
        {QByteArrayView("\x00\x00\xFE\xFF", 4), QStringConverter::Utf32BE},
        {QByteArrayView("\xEF\xBB\xBF", 3), QStringConverter::Utf8},
        {QByteArrayView("\xFF\xFE", 2), QStringConverter::Utf16LE},
        {QByteArrayView("\xFE\xFF", 2), QStringConverter::Utf16BE},
    };
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    qsizetype skip = 0;
    for (const Mark &mark : marks) {
        if (bytes.startsWith(mark.bytes)) {
            encoding = mark.encoding;
            skip = mark.bytes.size();
            break;
        }
    }

    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes).sliced(skip));
    if (!decoder.hasError())
        return text;
    if (problem && encoding == QStringConverter::Utf8) {
        // The first line holding bytes that are not UTF-8, found again line by line.
        qsizetype line = 1;
        for (const QByteArray &piece : bytes.sliced(skip).split('\n')) {
            QStringDecoder lineDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            const QString decoded = lineDecoder.decode(piece);
            if (lineDecoder.hasError())
                break;
            ++line;
        }
        *problem = QStringLiteral("line %1 is not valid UTF-8 text").arg(line);
    } else {
        tell(problem, QStringLiteral("it is not valid %1 text")
                          .arg(QString::fromLatin1(QStringConverter::nameForEncoding(encoding))));
    }
    return std::nullopt;
}

SubtitleType SubtitlesParser::detectType(const QString &text, QString *problem)
{
    // The line at position at is the one that is not SubRip.
    auto unknownAt = [&](qsizetype at) {
        if (problem) {
            if (text.trimmed().isEmpty())
                *problem = QStringLiteral("it holds no text");
            else
                *problem = lineProblem(lineNumber(text, at, carriageReturnsEndLines(text)),
                                       lineAround(text, at));
        }
        return SubtitleType::Unknown;
    };
    // A scanner over the head of the file that skips blanks and line ends before each scan.
    const qsizetype size = text.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < size && text[i].isSpace())
            ++i;
    };

    skipBlanks();
    if (i < size && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    const qsizetype digitsStart = i;
    while (i < size && isAsciiDigit(text[i]))
        ++i;
    if (i == digitsStart)
        return unknownAt(digitsStart);

    skipBlanks();
    static const QString timeCharacters = QStringLiteral("0123456789:.,-> ");
    const qsizetype runStart = i;
    while (i < size && timeCharacters.contains(text[i]))
        ++i;
    // A file that ends after the index is named by its last line.
    const qsizetype timeLine = runStart < size ? runStart : digitsStart;
    if (i == runStart)
        return unknownAt(timeLine);

    const QStringView run = QStringView(text).sliced(runStart, i - runStart);
    return run.split(QStringLiteral(" --> ")).size() == 2 ? SubtitleType::SubRip
                                                          : unknownAt(timeLine);
}

bool SubtitlesParser::parse(const QString &text, QString *problem)
{
    QString normalized = text;
    normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // A file whose lines end in carriage returns alone would otherwise be one block holding every
    // cue. Where lone carriage returns outnumber line feeds, they are the file's line ends.
    if (normalized.count(QLatin1Char('\r')) > normalized.count(QLatin1Char('\n')))
        normalized.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Trimmed by hand, to count the lines that go (what QString::trimmed() removes).
    qsizetype begin = 0;
    qsizetype end = normalized.size();
    while (begin < end && normalized[begin].isSpace())
        ++begin;
    while (end > begin && normalized[end - 1].isSpace())
        --end;
    // Line feeds are the line ends from here on: line counts them, as an editor numbers lines.
    qsizetype line = 1 + QStringView(normalized).first(begin).count(u'\n');
    normalized = normalized.sliced(begin, end - begin);

    const QStringList blocks = normalized.split(QStringLiteral("\n\n"));
    for (const QString &block : blocks) {
        const qsizetype blockLine = line;
        line += block.count(u'\n') + 2;
        const QStringList lines = splitLines(block);
        // The line a line of the block is on: the first, or the one after it.
        auto lineOf = [&](qsizetype index) {
            return index == 0 || lines[0].size() >= block.size() || block[lines[0].size()] != u'\n'
                       ? blockLine
                       : blockLine + 1;
        };
        if (lines.size() < 3) {
            tell(problem, lineProblem(lineOf(lines.size() - 1), lines.last()));
            return false;
        }
        if (!parseInteger(lines[0]))
            continue;

        const QStringList times = lines[1].split(QStringLiteral(" --> "));
        if (times.size() < 2) {
            tell(problem, lineProblem(lineOf(1), lines[1]));
            return false;
        }
        const std::optional<Time> start = Time::parse(times[0]);
        if (!start)
            continue;
        // Anything after the first blank, such as a position hint, is not part of the end time.
        const QString endToken = times[1].section(QLatin1Char(' '), 0, 0);
        const std::optional<Time> end = Time::parse(endToken);
        if (!end)
            continue;

        subtitles.append(Subtitle{start->milliseconds, end->milliseconds, lines.mid(2), endToken});
    }
    return true;
}

std::optional<double> SubtitlesParser::parseDecimal(QStringView text)
{
    static const QRegularExpression decimal(QStringLiteral("\\A[+-]?(?:[0-9]*[.,])?[0-9]+\\z"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    // The pattern admits only ASCII, so the C-locale conversion sees exactly these characters.
    QByteArray latin = text.toLatin1();
    latin.replace(',', '.');
    // strtod_l with the C locale: QCoreApplication sets the user's locale for LC_NUMERIC, and
    // out-of-range values must come out as strtod gives them (infinity, or zero).
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    return strtod_l(latin.constData(), nullptr, cLocale);
}

std::optional<qint64> SubtitlesParser::parseInteger(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the minimum value reads too.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        if (!isAsciiDigit(text[i]))
            return std::nullopt;
        const int digit = text[i].unicode() - '0';
        if (value < (std::numeric_limits<qint64>::min() + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<qint64>::min())
            return std::nullopt;
        value = -value;
    }
    return value;
}

QString SubtitlesParser::plainText(const QStringList &lines)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]+>"));
    QString joined;
    for (const QString &line : lines) {
        joined += line;
        joined += QLatin1Char(' ');
    }
    return joined.remove(tag);
}
