#include "Time.h"

#include "SubtitlesParser.h"

#include <QList>

std::optional<Time> Time::parse(QStringView text)
{
    const QList<QStringView> pieces = text.split(QLatin1Char(':'));
    const std::optional<double> seconds = SubtitlesParser::parseDecimal(pieces.last());
    if (!seconds)
        return std::nullopt;

    double milliseconds = *seconds * 1000;
    const qsizetype count = pieces.size();
    if (count >= 2) {
        const std::optional<qint64> minutes = SubtitlesParser::parseInteger(pieces[count - 2]);
        if (!minutes)
            return Time{milliseconds};
        milliseconds += double(*minutes) * 60 * 1000;
    }
    if (count >= 3) {
        if (const std::optional<qint64> hours = SubtitlesParser::parseInteger(pieces[count - 3]))
            milliseconds += double(*hours) * 3600 * 1000;
    }
    return Time{milliseconds};
}
