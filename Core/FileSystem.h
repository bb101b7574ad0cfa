#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <sys/types.h>

// What writing files safely needs beyond Qt: the mode a new file gets, and data on the disk.
class FileSystem {
public:
    // 0666 less this process's umask, read without changing it (other threads may be creating
    // files meanwhile).
    static mode_t newFileMode();
    // Flushes a file's data to the disk, where a full disk may only now be told; the reason when
    // it cannot.
    static std::optional<QString> syncToDisk(const QString &path);

    // Creates an empty file (with newFileMode) under a hidden name of its own beside target, on
    // the same file system: ".NAME.XXXXXX.TAG.EXT", NAME shortened as far as the file system's
    // name limit requires. Returns its path, or nothing with the system's reason. claim, when
    // given, is told each name before the file is created (true) and again should creating it
    // fail (false), so that a list of files to clean up never misses one, whenever the process
    // dies.
    using Claim = std::function<void(const QString &path, bool claimed)>;
    static std::optional<QString> createHiddenFile(const QString &target, const QString &tag,
                                                   QString *reason = nullptr,
                                                   const Claim &claim = {});

    // Mends an environment the standard folders cannot be found from, before anything reads
    // it: no HOME (the account's home folder is used, rather than "/"), or a TMPDIR that is not
    // a folder (the system's /tmp is used, rather than the root folder). Returns a note per
    // change, for the user.
    static QStringList settleEnvironment();
    // Whether bytes are valid UTF-8 text, as every file name given as text must be.
    static bool isUtf8(const QByteArray &bytes);
};
