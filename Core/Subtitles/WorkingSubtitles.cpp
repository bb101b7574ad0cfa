#include "WorkingSubtitles.h"

#include "MainThread.h"
#include "SubtitlesParser.h"
#include "VSError.h"
#include "VideoProcessor/SubtitleSources.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <cerrno>
#include <cstdio>
#include <cstring>

QString WorkingSubtitles::parseFailure(const QString &problem)
{
    return QStringLiteral("Could not parse subtitles: ") + problem;
}

std::optional<QString> WorkingSubtitles::unreadableLine(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("srt"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // Text that is not UTF-8 is another character set, not a fault of the file.
    const std::optional<QString> text = SubtitlesParser::readText(path);
    QString problem;
    if (!text || SubtitlesParser::fromText(*text, &problem))
        return std::nullopt;
    return parseFailure(problem);
}

WorkingSubtitles::WorkingSubtitles(QObject *parent)
    : QObject(parent)
{}

void WorkingSubtitles::prepare(const QString &path, std::optional<int> streamIndex)
{
    const quint64 request = ++newest;
    preparing = true;
    const QPointer<WorkingSubtitles> self(this);
    QThreadPool::globalInstance()->start([self, request, path, streamIndex] {
        QString reason;
        QString file;
        bool succeeded = false;
        try {
            file = WorkingFolder::filePath(QStringLiteral("subtitles-%1.srt").arg(request));
            succeeded = streamIndex ? SubtitleSources::extractSubtitlesTrack(
                                          path, QString::number(*streamIndex), file, &reason)
                                    : SubtitleSources::convertSubtitlesFile(path, file, &reason);
            if (!succeeded && !streamIndex)
                if (const std::optional<QString> line = unreadableLine(path))
                    reason = *line + u'\n' + reason;
            // Whatever reads the working file later reads it with the strict reader: a file it
            // would refuse is refused now, while the user can still choose another.
            QString problem;
            if (succeeded && !SubtitlesParser::fromFile(file, &problem)) {
                succeeded = false;
                reason = parseFailure(problem);
            }
        } catch (const VSError &error) {
            reason = error.message;
        }
        MainThread::post([self, request, succeeded, file, reason] {
            if (self)
                self->finish(request, succeeded, file, reason);
            else if (!file.isEmpty())
                QFile::remove(file);
        });
    });
}

void WorkingSubtitles::finish(quint64 request, bool succeeded, const QString &file,
                              const QString &reason)
{
    // A newer choice is on its way: this one is neither shown nor used.
    if (request != newest) {
        QFile::remove(file);
        return;
    }
    preparing = false;
    QString failure = reason;
    if (succeeded) {
        try {
            // One rename: the working file is always whole, the old subtitles or the new.
            const QString working = WorkingFolder::subtitlesFile();
            if (std::rename(QFile::encodeName(file).constData(),
                            QFile::encodeName(working).constData()) != 0) {
                succeeded = false;
                failure = QString::fromLocal8Bit(std::strerror(errno));
            }
        } catch (const VSError &error) {
            succeeded = false;
            failure = error.message;
        }
    }
    if (!succeeded) {
        QFile::remove(file);
        try {
            QFile::remove(WorkingFolder::subtitlesFile());
        } catch (const VSError &) {
        }
    }
    emit prepared(succeeded, failure);
}
