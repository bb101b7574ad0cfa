#include "WorkingSubtitles.h"

#include "MainThread.h"
#include "VSError.h"
#include "VideoProcessor/SubtitleSources.h"
#include "WorkingFolder.h"

#include <QFile>
#include <QPointer>
#include <QThreadPool>
#include <cerrno>
#include <cstdio>
#include <cstring>

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
