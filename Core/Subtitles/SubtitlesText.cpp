#include "SubtitlesText.h"

#include "SubtitlesParser.h"

#include <QStringDecoder>
#include <QStringList>
#include <cerrno>
#include <iconv.h>

namespace {

std::optional<QString> decodeWithIconv(const QByteArray &bytes, const QByteArray &charset)
{
    const iconv_t converter = iconv_open("UTF-8", charset.constData());
    if (converter == iconv_t(-1))
        return std::nullopt;
    QByteArray utf8;
    utf8.reserve(bytes.size() * 2);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char buffer[16384];
    while (inLeft > 0) {
        char *out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
        utf8.append(buffer, out - buffer);
        if (result != size_t(-1) || errno == E2BIG)
            continue;
        // A byte that is not valid here (or a sequence cut off at the end) is replaced, and the
        // conversion starts over after it.
        utf8.append("\xEF\xBF\xBD");
        ++in;
        --inLeft;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    char *out = buffer;
    size_t outLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, &out, &outLeft);
    utf8.append(buffer, out - buffer);
    iconv_close(converter);
    return QString::fromUtf8(utf8);
}

bool isCueNumber(const QString &line)
{
    return SubtitlesParser::parseInteger(line.trimmed()).has_value();
}

} // namespace

std::optional<QString> SubtitlesText::decode(const QByteArray &bytes, const QString &charset)
{
    const QString name = charset.toUpper();
    std::optional<QString> text;
    if (name.isEmpty() || name == QLatin1String("UTF-8") || name == QLatin1String("ASCII") ||
        name == QLatin1String("US-ASCII")) {
        // Qt's decoder replaces what is not UTF-8 and drops a leading byte-order mark.
        text = QStringDecoder(QStringConverter::Utf8).decode(bytes);
    } else if (name.startsWith(QLatin1String("UTF-16")) ||
               name.startsWith(QLatin1String("UTF-32"))) {
        const std::optional<QStringConverter::Encoding> encoding =
            QStringConverter::encodingForName(name.toLatin1().constData());
        if (encoding)
            text = QStringDecoder(*encoding).decode(bytes);
    } else {
        text = decodeWithIconv(bytes, name.toLatin1());
    }
    if (text)
        text->remove(QChar(0));
    return text;
}

QString SubtitlesText::keepCuesWhole(const QString &subRip, int *cueCount)
{
    QString normalized = subRip;
    normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalized.replace(u'\r', u'\n');
    const QStringList lines = normalized.split(u'\n');

    // A cue begins with its number and the time line, after an empty line or at the start.
    auto beginsCue = [&](qsizetype i) {
        return i + 1 < lines.size() && isCueNumber(lines[i]) &&
               lines[i + 1].contains(QLatin1String(" --> ")) &&
               (i == 0 || lines[i - 1].trimmed().isEmpty());
    };

    QString out;
    int number = 0;
    qsizetype i = 0;
    while (i < lines.size() && !beginsCue(i))
        ++i;
    while (i < lines.size()) {
        const QString timeLine = lines[i + 1];
        QStringList text;
        i += 2;
        for (; i < lines.size() && !beginsCue(i); ++i)
            if (!lines[i].trimmed().isEmpty())
                text.append(lines[i]);
        if (text.isEmpty())
            continue;
        out += QString::number(++number) + u'\n' + timeLine + u'\n' + text.join(u'\n') +
               QStringLiteral("\n\n");
    }
    if (cueCount)
        *cueCount = number;
    return out;
}
