#include "Project.h"

#include "FileSystem.h"
#include "Subtitles/SubtitlesParser.h"
#include "VSError.h"
#include "WorkingFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sndfile.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A statement that is finalized however the scope is left.
class Statement {
public:
    Statement(sqlite3 *db, const QString &sql)
    {
        if (db)
            // The v2 form makes a failing step report its own error, not a generic one.
            ok = sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) ==
                 SQLITE_OK;
    }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool prepared() const { return ok && statement; }
    sqlite3_stmt *get() const { return statement; }

private:
    sqlite3_stmt *statement = nullptr;
    bool ok = false;
};

QString errorMessage(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// Milliseconds as the file's 32-bit integers hold them.
int toInt32(double value)
{
    if (std::isnan(value))
        return 0;
    return int(std::clamp(std::trunc(value), double(std::numeric_limits<int>::min()),
                          double(std::numeric_limits<int>::max())));
}

ProjectItem itemFromRow(sqlite3_stmt *statement, int row)
{
    ProjectItem item;
    item.text =
        QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    item.start = sqlite3_column_int(statement, 1);
    item.end = sqlite3_column_int(statement, 2);
    item.id = sqlite3_column_int(statement, 3);
    item.audioDuration = sqlite3_column_int(statement, 4);
    item.row = row;
    return item;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

const QString streamSourcePrefix = QStringLiteral("stream:");

// Creates an empty file of a hidden name of its own beside target, on the same file system, so
// that renaming it to the target cannot fail once it is complete; tracked as a partial file, so
// that the next start removes it should this process die first. The reason when it cannot.
std::optional<QString> createPartialFile(const QFileInfo &target, mode_t mode, QString &path)
{
    QString reason;
    const std::optional<QString> created =
        FileSystem::createHiddenFile(target.absoluteFilePath(), QStringLiteral("partial"), &reason,
                                     WorkingFolder::claimPartialFile);
    if (!created)
        return reason;
    ::chmod(QFile::encodeName(*created).constData(), mode);
    path = *created;
    return std::nullopt;
}

void discardPartialFile(const QString &path)
{
    QFile::remove(path);
    WorkingFolder::untrackOutputFile(path);
}

// Puts a new name in a folder on the disk.
void syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

const QStringList itemColumns = {QStringLiteral("id"),    QStringLiteral("text"),
                                 QStringLiteral("start"), QStringLiteral("end"),
                                 QStringLiteral("audio"), QStringLiteral("audioDuration")};

} // namespace

Project::Project(QString projectFile, OpenMode mode)
    : projectFile(std::move(projectFile))
{
    openDatabase(mode);
}

Project::~Project()
{
    if (db)
        sqlite3_close(db);
    db = nullptr;
}

bool Project::setSortedBy(const QString &column)
{
    if (!itemColumns.contains(column) && column != lengthOrder)
        return false;
    sortColumn = column;
    return true;
}

void Project::openDatabase(OpenMode mode)
{
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
    const int flags = mode == OpenMode::Create     ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                      : mode == OpenMode::Existing ? SQLITE_OPEN_READWRITE
                                                   : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(QFile::encodeName(projectFile).constData(), &db, flags, nullptr) !=
        SQLITE_OK)
        closeAndThrow(QStringLiteral("Could not open project file: '") + projectFile +
                      QStringLiteral("'"));
    // The renderer and the window may hold the file at once; wait for the other's lock.
    sqlite3_busy_timeout(db, 5000);
    // Item audio is stored whole: as large a value as this SQLite takes (it keeps its own
    // compile-time ceiling, most often 1,000,000,000 bytes).
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, std::numeric_limits<int>::max());
    if (mode != OpenMode::Create) {
        // Another program's database, or an empty file, is not written to.
        if (!hasProjectTables())
            closeAndThrow(QStringLiteral("Not a voice-over project: ") + projectFile);
        if (const std::optional<QString> damage = damagedItem())
            closeAndThrow(
                QStringLiteral("The project '%1' is damaged: %2").arg(projectFile, *damage));
        return;
    }
    try {
        execute(QStringLiteral("CREATE TABLE IF NOT EXISTS ") + TB_METADATA +
                QStringLiteral(" (id INTEGER PRIMARY KEY AUTOINCREMENT, inputVideo TEXT, "
                               "subtitlesFile TEXT)"));
        execute(QStringLiteral("CREATE TABLE IF NOT EXISTS ") + TB_SOUNDS +
                QStringLiteral(" (id INTEGER PRIMARY KEY AUTOINCREMENT, text TEXT, start "
                               "INTEGER, end INTEGER, audio BLOB, audioDuration INTEGER DEFAULT "
                               "0)"));
    } catch (const VSError &error) {
        closeAndThrow(error.message);
    }
}

bool Project::hasProjectTables() const
{
    const Statement select(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"));
    if (!select.prepared())
        return false;
    QStringList tables;
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(select.get())) == SQLITE_ROW)
        tables.append(QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(select.get(), 0))));
    if (status != SQLITE_DONE || !tables.contains(TB_SOUNDS) || !tables.contains(TB_METADATA))
        return false;
    // Every column an item is read from: a table that lacks one would read as no items at all.
    const Statement columns(db, QStringLiteral("PRAGMA table_info(") + TB_SOUNDS + u')');
    if (!columns.prepared())
        return false;
    QStringList names;
    while ((status = sqlite3_step(columns.get())) == SQLITE_ROW)
        names.append(QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(columns.get(), 1))));
    return status == SQLITE_DONE &&
           std::all_of(itemColumns.begin(), itemColumns.end(),
                       [&](const QString &c) { return names.contains(c); });
}

std::optional<QString> Project::damagedItem() const
{
    // Items are read as 32-bit integers: a larger id or time (written by another program) would
    // be read as another, and an id read wrong points at another item.
    const QString range = QStringLiteral(" NOT BETWEEN -2147483648 AND 2147483647");
    const Statement select(
        db, QStringLiteral("SELECT id FROM ") + TB_SOUNDS + QStringLiteral(" WHERE id") + range +
                QStringLiteral(" OR start") + range + QStringLiteral(" OR end") + range +
                QStringLiteral(" OR audioDuration") + range + QStringLiteral(" LIMIT 1"));
    if (!select.prepared())
        return errorMessage(db);
    if (sqlite3_step(select.get()) != SQLITE_ROW)
        return std::nullopt;
    return QStringLiteral("item %1 has an id or a time out of range")
        .arg(QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(select.get(), 0))));
}

void Project::closeAndThrow(const QString &message)
{
    sqlite3_close(db);
    db = nullptr;
    throw VSError(message);
}

void Project::execute(const QString &sql)
{
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw VSError(errorMessage(db));
}

void Project::ensureMetadataRow()
{
    const Statement count(db, QStringLiteral("SELECT count(*) FROM ") + TB_METADATA);
    if (!count.prepared() || sqlite3_step(count.get()) != SQLITE_ROW)
        return;
    if (sqlite3_column_int(count.get(), 0) == 0)
        sqlite3_exec(db,
                     (QStringLiteral("INSERT INTO ") + TB_METADATA +
                      QStringLiteral(" (inputVideo, subtitlesFile) VALUES ('','')"))
                         .toUtf8()
                         .constData(),
                     nullptr, nullptr, nullptr);
}

void Project::setMetadata(const QString &column, const QString &value)
{
    ensureMetadataRow();
    const Statement update(db, QStringLiteral("UPDATE ") + TB_METADATA + QStringLiteral(" SET ") +
                                   column + QStringLiteral("=?"));
    if (!update.prepared())
        return;
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(update.get(), 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    sqlite3_step(update.get());
}

QString Project::metadata(const QString &column) const
{
    const Statement select(db, QStringLiteral("SELECT ") + column + QStringLiteral(" FROM ") +
                                   TB_METADATA + QStringLiteral(" LIMIT 1"));
    if (!select.prepared() || sqlite3_step(select.get()) != SQLITE_ROW)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select.get(), 0)));
}

void Project::setInputVideo(const QString &path)
{
    setMetadata(QStringLiteral("inputVideo"), path);
}

QString Project::inputVideo() const
{
    return metadata(QStringLiteral("inputVideo"));
}

void Project::setSubtitlesFile(const QString &source)
{
    setMetadata(QStringLiteral("subtitlesFile"), source);
}

QString Project::subtitlesFile() const
{
    return metadata(QStringLiteral("subtitlesFile"));
}

QString Project::streamSource(int streamIndex)
{
    return streamSourcePrefix + QString::number(streamIndex);
}

std::optional<int> Project::sourceStream(const QString &source)
{
    if (!source.startsWith(streamSourcePrefix))
        return std::nullopt;
    bool ok = false;
    const int index = source.mid(streamSourcePrefix.size()).toInt(&ok);
    return ok && index >= 0 ? std::optional<int>(index) : std::nullopt;
}

bool Project::insertSubtitles(const QList<Subtitle> &subtitles,
                              const std::function<bool()> &stopped)
{
    const Statement insert(db, QStringLiteral("INSERT INTO ") + TB_SOUNDS +
                                   QStringLiteral(" (text, start, end) VALUES (?,?,?)"));
    if (!insert.prepared())
        throw VSError(errorMessage(db));
    // One transaction for all the items: one commit, instead of one disk sync per item. Within
    // the caller's own transaction, the caller commits.
    const bool inTransaction = sqlite3_get_autocommit(db) != 0 &&
                               sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    bool complete = true;
    for (qsizetype i = 0; i < subtitles.size(); ++i) {
        if (stopped && i % 256 == 0 && stopped()) {
            complete = false;
            break;
        }
        const Subtitle &cue = subtitles[i];
        sqlite3_reset(insert.get());
        const QByteArray text = SubtitlesParser::plainText(cue.text).toUtf8();
        if (sqlite3_bind_text(insert.get(), 1, text.constData(), int(text.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK ||
            sqlite3_bind_int(insert.get(), 2, toInt32(cue.start)) != SQLITE_OK ||
            sqlite3_bind_int(insert.get(), 3, toInt32(cue.end)) != SQLITE_OK ||
            sqlite3_step(insert.get()) != SQLITE_DONE) {
            const QString message = errorMessage(db);
            // The items inserted before the failure stay, as they would without the transaction.
            if (inTransaction)
                sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            throw VSError(message);
        }
    }
    if (inTransaction && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const QString message = errorMessage(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw VSError(message);
    }
    return complete;
}

bool Project::createFromSubtitles(const QString &destination, const QString &inputVideo,
                                  const QString &subtitlesSource, const QList<Subtitle> &subtitles,
                                  const std::function<bool()> &stopped)
{
    const QFileInfo target(destination);
    auto failure = [&](const QString &reason) {
        return VSError(QStringLiteral("Could not create the project '%1': %2")
                           .arg(target.absoluteFilePath(), reason));
    };
    QString partial;
    if (const std::optional<QString> reason =
            createPartialFile(target, FileSystem::newFileMode(), partial))
        throw failure(*reason);
    // The tables are made before the journal is switched off: its file goes the same way.
    const QString journal = partial + QStringLiteral("-journal");
    WorkingFolder::trackOutputFile(journal, WorkingFolder::Leftover::Partial);
    auto discard = [&] {
        discardPartialFile(journal);
        discardPartialFile(partial);
    };

    QString reason;
    bool complete = false;
    try {
        Project project(partial);
        // Written once into a file that nobody else knows of, and synced whole before it takes
        // its name: neither a journal nor a sync per step is of any use.
        project.execute(QStringLiteral("PRAGMA journal_mode=OFF"));
        project.execute(QStringLiteral("PRAGMA synchronous=OFF"));
        project.execute(QStringLiteral("BEGIN"));
        project.setInputVideo(inputVideo);
        project.setSubtitlesFile(subtitlesSource);
        complete = project.insertSubtitles(subtitles, stopped);
        if (complete)
            project.execute(QStringLiteral("COMMIT"));
    } catch (const VSError &error) {
        reason = error.message;
    }
    if (reason.isEmpty() && complete)
        reason = FileSystem::syncToDisk(partial).value_or(QString());
    if (reason.isEmpty() && complete) {
        // A link, unlike a rename, never replaces a file that took the name meanwhile; where
        // the file system has no links, a rename is the next best.
        const QByteArray from = QFile::encodeName(partial);
        const QByteArray to = QFile::encodeName(target.absoluteFilePath());
        if (::link(from.constData(), to.constData()) != 0) {
            if (errno == EEXIST || QFileInfo::exists(target.absoluteFilePath()))
                reason = QStringLiteral("the file exists");
            else if (std::rename(from.constData(), to.constData()) != 0)
                reason = systemError(errno);
        }
    }
    discard();
    if (!reason.isEmpty())
        throw failure(reason);
    if (complete)
        syncFolder(target.absolutePath());
    return complete;
}

void Project::updateItemText(int id, const QString &text)
{
    const Statement update(db, QStringLiteral("UPDATE ") + TB_SOUNDS +
                                   QStringLiteral(" SET text=? WHERE id=?"));
    if (!update.prepared())
        throw VSError(errorMessage(db));
    const QByteArray utf8 = text.toUtf8();
    if (sqlite3_bind_text(update.get(), 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) !=
            SQLITE_OK ||
        sqlite3_bind_int(update.get(), 2, id) != SQLITE_OK ||
        sqlite3_step(update.get()) != SQLITE_DONE)
        throw VSError(errorMessage(db));
}

qint64 Project::largestItemAudio() const
{
    // Room is kept for the rest of the item's row.
    return db ? qint64(sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1)) - 65536 : 0;
}

QString Project::tooLargeMessage(int id, qint64 size, double bytesPerMinute) const
{
    const QString about = bytesPerMinute > 0
                              ? QStringLiteral(" (about %1 min of this audio)")
                                    .arg(qint64(double(largestItemAudio()) / bytesPerMinute))
                              : QString();
    return QStringLiteral("The audio is too large for a project item: it takes %1 bytes, and an "
                          "item holds at most %2%3; item %4 keeps the audio it had")
        .arg(size)
        .arg(largestItemAudio())
        .arg(about)
        .arg(id);
}

void Project::updateItemAudio(int id, const QByteArray &audio, int duration)
{
    if (audio.size() > largestItemAudio())
        throw VSError(tooLargeMessage(id, audio.size(), 0));
    const Statement update(db, QStringLiteral("UPDATE ") + TB_SOUNDS +
                                   QStringLiteral(" SET audio=?, audioDuration=? WHERE id=?"));
    if (!update.prepared())
        throw VSError(errorMessage(db));
    // The bytes outlive the statement's step: SQLite need not copy them.
    if (sqlite3_bind_blob64(update.get(), 1, audio.constData(), sqlite3_uint64(audio.size()),
                            SQLITE_STATIC) != SQLITE_OK ||
        sqlite3_bind_int(update.get(), 2, duration) != SQLITE_OK ||
        sqlite3_bind_int(update.get(), 3, id) != SQLITE_OK ||
        sqlite3_step(update.get()) != SQLITE_DONE)
        throw VSError(sqlite3_errcode(db) == SQLITE_TOOBIG ? tooLargeMessage(id, audio.size(), 0)
                                                           : errorMessage(db));
}

int Project::saveItemAudioFile(int id, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VSError(QStringLiteral("Could not read '%1': %2").arg(path, file.errorString()));
    SF_INFO info{};
    SNDFILE *audio = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!audio)
        throw VSError(QString::fromLocal8Bit(sf_strerror(nullptr)));
    sf_close(audio);
    const double milliseconds =
        info.samplerate > 0 ? double(info.frames) * 1000.0 / double(info.samplerate) : 0;
    // Nothing to hear would take the place of the item's audio and read as "no audio".
    if (!(milliseconds >= 1))
        throw VSError(QStringLiteral("The audio is empty; item %1 keeps the audio it had").arg(id));
    // Refused before it is read: a file too large to store may be too large to hold in memory.
    if (file.size() > largestItemAudio())
        throw VSError(tooLargeMessage(id, file.size(), double(file.size()) / milliseconds * 60000));
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        throw VSError(QStringLiteral("Could not read '%1': %2").arg(path, file.errorString()));
    const int duration = toInt32(milliseconds);
    updateItemAudio(id, bytes, duration);
    return duration;
}

bool Project::hasItemsWithAudio() const
{
    const Statement select(db, QStringLiteral("SELECT id FROM ") + TB_SOUNDS +
                                   QStringLiteral(" WHERE audioDuration > 0 LIMIT 1"));
    return select.prepared() && sqlite3_step(select.get()) == SQLITE_ROW;
}

int Project::countItemsWithAudio() const
{
    const Statement select(db, QStringLiteral("SELECT COUNT(*) FROM ") + TB_SOUNDS +
                                   QStringLiteral(" WHERE audioDuration > 0"));
    if (!select.prepared() || sqlite3_step(select.get()) != SQLITE_ROW)
        return -1;
    return sqlite3_column_int(select.get(), 0);
}

QString Project::itemsQuery() const
{
    return QStringLiteral("SELECT text, start, end, id, audioDuration FROM ") + TB_SOUNDS +
           QStringLiteral(" ORDER BY ") +
           (sortColumn == lengthOrder ? QStringLiteral("(end - start)") : sortColumn) +
           (sortedAsc ? QStringLiteral(" ASC") : QStringLiteral(" DESC"));
}

QList<ProjectItem> Project::getAllItems() const
{
    QList<ProjectItem> items;
    const Statement select(db, itemsQuery());
    if (!select.prepared())
        return items;
    while (sqlite3_step(select.get()) == SQLITE_ROW)
        items.append(itemFromRow(select.get(), int(items.size())));
    return items;
}

std::optional<ProjectItem> Project::getItem(int row) const
{
    const Statement select(db, itemsQuery() + QStringLiteral(" LIMIT %1,1").arg(row));
    if (!select.prepared() || sqlite3_step(select.get()) != SQLITE_ROW)
        return std::nullopt;
    return itemFromRow(select.get(), row);
}

namespace {

// An item of a "SELECT start, end, audio" row.
ProjectItem audioItemFromRow(sqlite3_stmt *statement)
{
    ProjectItem item;
    item.start = sqlite3_column_int(statement, 0);
    item.end = sqlite3_column_int(statement, 1);
    // An item that claims audio but holds none has no audio buffer.
    const void *blob = sqlite3_column_blob(statement, 2);
    const int size = sqlite3_column_bytes(statement, 2);
    if (blob && size > 0)
        item.audio = QByteArray(static_cast<const char *>(blob), size);
    return item;
}

} // namespace

std::optional<ProjectItem> Project::getAudioItem(int index) const
{
    const Statement select(db, QStringLiteral("SELECT start, end, audio FROM ") + TB_SOUNDS +
                                   QStringLiteral(" WHERE audioDuration > 0 ORDER BY start ASC "
                                                  "LIMIT %1,1")
                                       .arg(index));
    if (!select.prepared() || sqlite3_step(select.get()) != SQLITE_ROW)
        return std::nullopt;
    return audioItemFromRow(select.get());
}

QList<int> Project::audioItemIds() const
{
    QList<int> ids;
    const Statement select(db, QStringLiteral("SELECT id FROM ") + TB_SOUNDS +
                                   QStringLiteral(" WHERE audioDuration > 0 ORDER BY start ASC, "
                                                  "id ASC"));
    if (!select.prepared())
        return ids;
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(select.get())) == SQLITE_ROW)
        ids.append(sqlite3_column_int(select.get(), 0));
    return status == SQLITE_DONE ? ids : QList<int>();
}

std::optional<ProjectItem> Project::getAudioItemWithId(int id) const
{
    const Statement select(db, QStringLiteral("SELECT start, end, audio FROM ") + TB_SOUNDS +
                                   QStringLiteral(" WHERE id=?"));
    if (!select.prepared() || sqlite3_bind_int(select.get(), 1, id) != SQLITE_OK ||
        sqlite3_step(select.get()) != SQLITE_ROW)
        return std::nullopt;
    ProjectItem item = audioItemFromRow(select.get());
    item.id = id;
    return item;
}

std::optional<QByteArray> Project::getItemAudio(int id) const
{
    const Statement select(db, QStringLiteral("SELECT audio FROM ") + TB_SOUNDS +
                                   QStringLiteral(" WHERE id=?"));
    if (!select.prepared())
        return std::nullopt;
    sqlite3_bind_int(select.get(), 1, id);
    if (sqlite3_step(select.get()) != SQLITE_ROW)
        return std::nullopt;
    const void *blob = sqlite3_column_blob(select.get(), 0);
    const int size = sqlite3_column_bytes(select.get(), 0);
    if (!blob || size <= 0)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(blob), size);
}

void Project::copyTo(const QString &destination) const
{
    const QFileInfo target(destination);
    auto failure = [&](const QString &reason) {
        return VSError(QStringLiteral("Could not save the project to '%1': %2")
                           .arg(target.absoluteFilePath(), reason));
    };
    if (!db)
        throw failure(QStringLiteral("the project is not open"));
    // A project replaced in place keeps who may read it.
    struct stat existing {};
    const bool replacing =
        ::stat(QFile::encodeName(target.absoluteFilePath()).constData(), &existing) == 0;
    QString temporary;
    if (const std::optional<QString> reason = createPartialFile(
            target, replacing ? existing.st_mode & 07777 : FileSystem::newFileMode(), temporary))
        throw failure(*reason);
    const QByteArray pattern = QFile::encodeName(temporary);
    auto discard = [&] { discardPartialFile(temporary); };

    sqlite3 *copy = nullptr;
    QString reason;
    if (sqlite3_open_v2(pattern.constData(), &copy, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        reason = errorMessage(copy);
    } else {
        sqlite3_busy_timeout(copy, 5000);
        // The copy is written once, into a file of its own that is removed when it fails: no
        // journal beside it.
        sqlite3_exec(copy, "PRAGMA journal_mode=OFF", nullptr, nullptr, nullptr);
        sqlite3_backup *backup = sqlite3_backup_init(copy, "main", db, "main");
        if (!backup) {
            reason = errorMessage(copy);
        } else {
            int status = SQLITE_OK;
            // Pages are copied in steps, so that a writer holding the source waits for no more
            // than one step; a step the source's lock refused is taken again, for a while.
            QElapsedTimer waiting;
            waiting.start();
            do {
                status = sqlite3_backup_step(backup, 256);
                if (status == SQLITE_BUSY || status == SQLITE_LOCKED)
                    sqlite3_sleep(20);
            } while (status == SQLITE_OK || ((status == SQLITE_BUSY || status == SQLITE_LOCKED) &&
                                             waiting.elapsed() < 5000));
            sqlite3_backup_finish(backup);
            if (status == SQLITE_BUSY || status == SQLITE_LOCKED)
                reason = QStringLiteral("another program keeps the project busy");
            else if (status != SQLITE_DONE)
                reason = errorMessage(copy);
        }
    }
    if (sqlite3_close(copy) != SQLITE_OK && reason.isEmpty())
        reason = QStringLiteral("the copy could not be closed");
    if (reason.isEmpty())
        reason = FileSystem::syncToDisk(temporary).value_or(QString());
    if (reason.isEmpty() &&
        std::rename(pattern.constData(),
                    QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
        reason = systemError(errno);
    if (!reason.isEmpty()) {
        discard();
        throw failure(reason);
    }
    WorkingFolder::untrackOutputFile(temporary);
    // The new name itself is on the disk once its folder is.
    syncFolder(target.absolutePath());
}
