#pragma once

#include <QObject>
#include <QString>
#include <optional>

// The working subtitles file that every job reads, prepared from the user's newest choice: a
// subtitle file in any text format and character set, or a text stream of a video. Each choice
// is prepared on the thread pool into a file of its own, and only the newest takes the working
// file's name, in one rename: the file always holds one whole choice, whatever order the work
// ends in. Main thread.
class WorkingSubtitles : public QObject {
    Q_OBJECT
public:
    explicit WorkingSubtitles(QObject *parent = nullptr);

    // The newest choice is being prepared.
    bool isPreparing() const { return preparing; }
    // A subtitle file at path, or stream streamIndex of the video at path. A newer call makes
    // the older one's result go unused and unreported.
    void prepare(const QString &path, std::optional<int> streamIndex);

    // What the user is told when the strict reader refuses subtitles for problem (see
    // SubtitlesParser).
    static QString parseFailure(const QString &problem);
    // For a SubRip file (by its name) that could not be converted: the same, naming the first
    // of its lines the strict reader could not read; nothing when it reads them all.
    static std::optional<QString> unreadableLine(const QString &path);

signals:
    // The newest choice is in the working file, or could not be read (reason); the working file
    // is then removed, so that no job reads an older choice.
    void prepared(bool succeeded, const QString &reason);

private:
    void finish(quint64 request, bool succeeded, const QString &file, const QString &reason);

    quint64 newest = 0;
    bool preparing = false;
};
