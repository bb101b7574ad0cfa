#pragma once

#include <QString>
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
};
