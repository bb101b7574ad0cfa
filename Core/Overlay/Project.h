#pragma once

#include "ProjectItem.h"
#include "Subtitles/Subtitle.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

struct sqlite3;

// An audio-overlay project: one SQLite file with a row per item (text, slot, audio) and a
// metadata row naming the input video. One object is used by one thread at a time; several
// objects may share a file through SQLite's own locking.
class Project {
public:
    static inline const QString TB_SOUNDS = QStringLiteral("Sounds");
    static inline const QString TB_METADATA = QStringLiteral("Metadata");

    // Create opens the project file, creating it and its tables when missing. The other modes
    // open only a file that already is a project, and change nothing in a file that is not one
    // (it fails with "Not a voice-over project: PATH"). All throw VSError.
    enum class OpenMode { Create, Existing, ReadOnly };
    explicit Project(QString projectFile, OpenMode mode = OpenMode::Create);
    ~Project();
    Project(const Project &) = delete;
    Project &operator=(const Project &) = delete;

    const QString projectFile;

    // Item lists are ordered by a column of the item table, or by the length of the items' slots
    // (lengthOrder); other names keep the previous order (the name goes into the query text).
    static inline const QString lengthOrder = QStringLiteral("length");
    QString sortedBy() const { return sortColumn; }
    bool setSortedBy(const QString &column);
    bool sortedAsc = true;

    void openDatabase(OpenMode mode = OpenMode::Create);
    // Errors are ignored.
    void setInputVideo(const QString &path);
    // The stored input video, or an empty text.
    QString inputVideo() const;
    // Where the items came from: a subtitle file's absolute path, or streamSource(N) for the
    // input video's stream N; an empty text when unknown. Errors are ignored.
    void setSubtitlesFile(const QString &source);
    QString subtitlesFile() const;
    static QString streamSource(int streamIndex);
    // The stream index of a streamSource text, or nothing for any other text.
    static std::optional<int> sourceStream(const QString &source);
    // One item per cue, in cue order, in one transaction (or the caller's); throws VSError.
    // stopped, when given, is asked every few hundred cues: false when it ended the insertion
    // early (the items inserted by then stay).
    bool insertSubtitles(const QList<Subtitle> &subtitles,
                         const std::function<bool()> &stopped = {});
    // Makes a new project file at destination with one item per cue, whole or not at all: it is
    // built in one transaction in a hidden file beside destination, which takes the name once
    // complete and on the disk, and never over a file that has the name by then. Should the
    // process die first, the next start removes that file. False, leaving nothing, when stopped
    // ended the build; throws VSError naming destination and the reason.
    static bool createFromSubtitles(const QString &destination, const QString &inputVideo,
                                    const QString &subtitlesSource,
                                    const QList<Subtitle> &subtitles,
                                    const std::function<bool()> &stopped = {});
    // Throws VSError, also for audio larger than largestItemAudio (the item's audio then stays).
    void updateItemAudio(int id, const QByteArray &audio, int duration);
    // The most bytes of audio an item can hold.
    qint64 largestItemAudio() const;
    // The item's text as the user corrected it; throws VSError.
    void updateItemText(int id, const QString &text);
    // Stores an audio file as the item's audio; returns its duration in milliseconds. Throws
    // VSError when the file cannot be read as audio, holds less than a millisecond of it, or
    // cannot be stored (too large, among others); the item then keeps the audio it had.
    int saveItemAudioFile(int id, const QString &path);

    // Reading never throws: failures give false, -1, an empty list or nothing.
    bool hasItemsWithAudio() const;
    int countItemsWithAudio() const;
    QList<ProjectItem> getAllItems() const;
    std::optional<ProjectItem> getItem(int row) const;
    // The index-th item with audio by ascending start, with its audio bytes.
    std::optional<ProjectItem> getAudioItem(int index) const;
    // The ids of the items with audio by ascending start (then id), and one of them with its
    // start, end and audio bytes: together, a walk over the items with audio that costs one
    // lookup per item.
    QList<int> audioItemIds() const;
    std::optional<ProjectItem> getAudioItemWithId(int id) const;
    std::optional<QByteArray> getItemAudio(int id) const;

    // Writes a consistent copy of the whole project to destination (replacing a file there):
    // into a new file beside it that takes its name only once complete and on the disk, so that
    // a failed or interrupted copy never leaves a half-written project under that name. Throws
    // VSError naming the destination and the reason.
    void copyTo(const QString &destination) const;

private:
    void execute(const QString &sql);
    bool hasProjectTables() const;
    // What makes an item unreadable, if one is.
    std::optional<QString> damagedItem() const;
    [[noreturn]] void closeAndThrow(const QString &message);
    void ensureMetadataRow();
    // A column of the metadata table's one row (a name of ours, never the user's).
    void setMetadata(const QString &column, const QString &value);
    QString metadata(const QString &column) const;
    QString itemsQuery() const;
    QString tooLargeMessage(int id, qint64 size, double bytesPerMinute) const;

    QString sortColumn = QStringLiteral("start");
    sqlite3 *db = nullptr;
};
