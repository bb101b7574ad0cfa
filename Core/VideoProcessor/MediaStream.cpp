#include "MediaStream.h"

QString MediaStream::rawValue(StreamType type)
{
    switch (type) {
    case StreamType::Video:
        return QStringLiteral("Video");
    case StreamType::Audio:
        return QStringLiteral("Audio");
    case StreamType::Subtitles:
        return QStringLiteral("Subtitles");
    }
    return QString();
}

QString MediaStream::trackTitle() const
{
    QString title = QStringLiteral("Track ") + QString::number(streamIndex);
    title += u' ' + (type ? rawValue(*type) : QString());
    if (language)
        title += u'(' + *language + u')';
    if (isDefault)
        title += QStringLiteral(" - default");
    return title;
}
