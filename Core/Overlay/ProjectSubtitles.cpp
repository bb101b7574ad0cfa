#include "ProjectSubtitles.h"

#include "Subtitles/Utils.h"

namespace {

QString srtTime(qint64 milliseconds)
{
    return Utils::fullTimeString(milliseconds).replace(u'.', u',');
}

} // namespace

QByteArray ProjectSubtitles::subRip(const QList<ProjectItem> &items)
{
    QByteArray text;
    int number = 0;
    for (const ProjectItem &item : items)
        text += QStringLiteral("%1\n%2 --> %3\n%4\n\n")
                    .arg(++number)
                    .arg(srtTime(item.start), srtTime(item.end), item.text.trimmed())
                    .toUtf8();
    return text;
}
