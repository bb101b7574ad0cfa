#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a QCoreApplication, a private folder for the files a reader
// is given, and the input as Qt types.
namespace FuzzSupport {

// Once, before the first input: the application object and a working folder of this process's
// own, with the settings pointed into it so that no run touches the user's.
void initialize();

QByteArray bytes(const uint8_t *data, size_t size);
// A file in the private folder holding exactly bytes; its path.
QString writeFile(const QString &name, const QByteArray &bytes);
// The private folder (removed when the process ends).
QString folder();
// Removes everything in the private folder.
void clearFolder();

} // namespace FuzzSupport
