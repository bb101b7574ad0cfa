#include "SyncReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <cmath>

namespace {

QString number(int count)
{
    return QLocale(QLocale::English).toString(count);
}

QString seconds(double milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'f', 2);
}

// Whole milliseconds where they are whole, so that times read as they were written.
QJsonValue milliseconds(double value)
{
    const double rounded = std::round(value * 1000.0) / 1000.0;
    return rounded == std::trunc(rounded) ? QJsonValue(qint64(rounded)) : QJsonValue(rounded);
}

} // namespace

SyncReport::Counts SyncReport::counts() const
{
    Counts counts;
    counts.lines = int(entries.size());
    for (const Line &line : entries) {
        counts.worstLate = std::max(counts.worstLate, line.late());
        if (line.late() > lateThreshold)
            ++counts.late;
        else if (line.tempo > 1.0)
            ++counts.compressed;
        else if (!line.fits)
            ++counts.ranLong;
        else
            ++counts.fit;
    }
    return counts;
}

QByteArray SyncReport::toJson() const
{
    QJsonArray array;
    for (const Line &line : entries)
        array.append(QJsonObject{
            {QStringLiteral("index"), line.index},
            {QStringLiteral("start"), milliseconds(line.start)},
            {QStringLiteral("end"), milliseconds(line.end)},
            {QStringLiteral("placedStart"), milliseconds(line.placedStart)},
            {QStringLiteral("duration"), milliseconds(line.duration)},
            {QStringLiteral("rate"), double(line.rate)},
            {QStringLiteral("tempo"), std::round(line.tempo * 1000.0) / 1000.0},
            {QStringLiteral("late"), milliseconds(line.late())},
        });
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

bool SyncReport::write(const QString &path, QString *error) const
{
    QSaveFile file(path);
    const QByteArray json = toJson();
    if (file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

QString SyncReport::summary() const
{
    const Counts c = counts();
    QString text = QStringLiteral("%1 lines: %2 fit, %3 compressed")
                       .arg(number(c.lines), number(c.fit), number(c.compressed));
    if (c.ranLong > 0)
        text += QStringLiteral(", %1 run long").arg(number(c.ranLong));
    return text +
           QStringLiteral(", %1 start late (worst %2 s)").arg(number(c.late), seconds(c.worstLate));
}

QString SyncReport::sentence() const
{
    const Counts c = counts();
    QString text =
        QStringLiteral("Of %1 lines, %2 fit their time").arg(number(c.lines), number(c.fit));
    if (c.compressed > 0)
        text += QStringLiteral(", %1 were played faster to fit").arg(number(c.compressed));
    if (c.ranLong > 0)
        text += QStringLiteral(", %1 ran past their time").arg(number(c.ranLong));
    if (c.late > 0)
        text += QStringLiteral(", and %1 start more than %2 s late (at worst %3 s)")
                    .arg(number(c.late), seconds(lateThreshold), seconds(c.worstLate));
    return text + u'.';
}
