#include "UserSettings.h"

#include "Subtitles/NSUtils.h"
#include "Subtitles/SubtitlesParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

namespace {

QString standardSettingsFile()
{
    const QByteArray overridden = qgetenv(UserSettings::settingsFileVariable);
    if (!overridden.isEmpty())
        return QString::fromLocal8Bit(overridden);
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Kelvorandix"),
                     QStringLiteral("Kelvorandix"))
        .fileName();
}

} // namespace

UserSettings &UserSettings::shared()
{
    static UserSettings instance;
    return instance;
}

UserSettings::UserSettings()
    : UserSettings(standardSettingsFile())
{}

UserSettings::UserSettings(QString settingsFile)
    : file(std::move(settingsFile))
{}

std::unique_ptr<QSettings> UserSettings::defaults() const
{
    dropSerializedValues();
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

void UserSettings::dropSerializedValues() const
{
    // Qt decodes "@Variant(...)" and "@DateTime(...)" values with the sizes written inside them:
    // one claiming gigabytes is allocated before anything is read, and the program ends. The
    // store never writes such values, so a line holding one is damage, and goes.
    QFile store(file);
    if (!store.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = store.readAll();
    store.close();
    if (!text.contains("@Variant(") && !text.contains("@DateTime("))
        return;
    QByteArray kept;
    for (const QByteArray &line : text.split('\n'))
        if (!line.contains("@Variant(") && !line.contains("@DateTime("))
            kept += line + '\n';
    kept.chop(1);
    QSaveFile cleaned(file);
    if (cleaned.open(QIODevice::WriteOnly) && cleaned.write(kept) == kept.size())
        cleaned.commit();
}

bool UserSettings::contains(const QString &key) const
{
    return defaults()->contains(key);
}

QVariant UserSettings::object(const QString &key) const
{
    return defaults()->value(key);
}

void UserSettings::setObject(const QString &key, const QVariant &value)
{
    const std::unique_ptr<QSettings> store = defaults();
    store->setValue(key, value);
    store->sync();
}

void UserSettings::remove(const QString &key)
{
    const std::unique_ptr<QSettings> store = defaults();
    store->remove(key);
    store->sync();
}

std::optional<qint64> UserSettings::readInteger(const QVariant &value)
{
    // INI files keep every value as text; integers may have been written as doubles.
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    const QString text = value.toString().trimmed();
    if (const std::optional<qint64> integer = SubtitlesParser::parseInteger(text))
        return integer;
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (ok && std::isfinite(number) && std::abs(number) < 9.0e18)
        return qint64(number);
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return 1;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return 0;
    return std::nullopt;
}

bool UserSettings::boolValue(const QString &key) const
{
    const QVariant value = object(key);
    if (!value.isValid())
        return false;
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
        return true;
    return readInteger(value).value_or(0) != 0;
}

qint64 UserSettings::integerValue(const QString &key) const
{
    const QVariant value = object(key);
    return value.isValid() ? readInteger(value).value_or(0) : 0;
}

double UserSettings::doubleValue(const QString &key) const
{
    bool ok = false;
    const double value = object(key).toString().trimmed().toDouble(&ok);
    return ok ? value : 0.0;
}

QString UserSettings::stringValue(const QString &key) const
{
    const QVariant value = object(key);
    if (!value.isValid() || value.typeId() == QMetaType::QByteArray)
        return QString();
    if (value.typeId() == QMetaType::QStringList)
        return QString();
    return value.toString();
}

int UserSettings::volume() const
{
    const QVariant value = object(volumeKey);
    if (!value.isValid())
        return 50;
    const std::optional<qint64> stored = readInteger(value);
    if (!stored)
        return 50;
    return int(std::clamp<qint64>(*stored, 0, 100));
}

std::optional<qint64> UserSettings::storedVolumeOutOfRange() const
{
    const QVariant value = object(volumeKey);
    const std::optional<qint64> stored = value.isValid() ? readInteger(value) : std::nullopt;
    if (stored && (*stored < 0 || *stored > 100))
        return stored;
    return std::nullopt;
}

std::optional<int> UserSettings::loudnessTarget() const
{
    const QVariant value = object(loudnessTargetKey);
    const std::optional<qint64> stored = value.isValid() ? readInteger(value) : std::nullopt;
    if (stored && (*stored == -23 || *stored == -16))
        return int(*stored);
    return std::nullopt;
}

void UserSettings::setLoudnessTarget(std::optional<int> lufs)
{
    if (lufs)
        setInteger(loudnessTargetKey, *lufs);
    else
        remove(loudnessTargetKey);
}

qint32 UserSettings::playerVolume() const
{
    const QVariant value = object(playerVolumeKey);
    if (!value.isValid())
        return 100;
    const std::optional<qint64> stored = readInteger(value);
    if (!stored || *stored < std::numeric_limits<qint32>::min() ||
        *stored > std::numeric_limits<qint32>::max())
        return 100;
    return qint32(*stored);
}

bool UserSettings::isFirstTimeRunning() const
{
    if (!contains(isFirstTimeRunningKey))
        return true;
    return boolValue(isFirstTimeRunningKey);
}

std::optional<QRectF> UserSettings::mainWindowFrame() const
{
    const double x = doubleValue(mainWindowFrameKeyX);
    const double y = doubleValue(mainWindowFrameKeyY);
    const double w = doubleValue(mainWindowFrameKeyW);
    const double h = doubleValue(mainWindowFrameKeyH);
    if (x == 0.0 && y == 0.0 && w == 0.0 && h == 0.0)
        return std::nullopt;
    return QRectF(x, y, w, h);
}

void UserSettings::setMainWindowFrame(const std::optional<QRectF> &frame)
{
    const QRectF r = frame.value_or(QRectF(0, 0, 0, 0));
    const std::unique_ptr<QSettings> store = defaults();
    store->setValue(mainWindowFrameKeyX, r.x());
    store->setValue(mainWindowFrameKeyY, r.y());
    store->setValue(mainWindowFrameKeyW, r.width());
    store->setValue(mainWindowFrameKeyH, r.height());
    store->sync();
}

std::optional<QByteArray> UserSettings::securityScopedBookmark() const
{
    const QVariant value = object(securityScopedBookmarkKey);
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

QString UserSettings::outputFolder() const
{
    const QString stored = stringValue(outputFolderKey);
    if (!stored.isEmpty()) {
        const QFileInfo info(stored);
        if (info.isDir() && info.isWritable())
            return stored;
    }
    return defaultOutputFolder();
}

void UserSettings::setOutputFolder(const QString &path)
{
    setString(outputFolderKey, path);
}

QStringList UserSettings::recentProjects() const
{
    QStringList paths = object(recentProjectsKey).toStringList();
    paths.removeAll(QString());
    paths.removeDuplicates();
    return paths.mid(0, recentProjectsLimit);
}

void UserSettings::addRecentProject(const QString &path)
{
    QStringList paths = recentProjects();
    paths.removeAll(path);
    paths.prepend(path);
    setObject(recentProjectsKey, paths.mid(0, recentProjectsLimit));
}

void UserSettings::removeRecentProject(const QString &path)
{
    QStringList paths = recentProjects();
    paths.removeAll(path);
    setObject(recentProjectsKey, paths);
}

namespace {

// Whether a folder is there and writable, or could be made: its nearest existing ancestor is a
// writable folder.
bool couldHold(const QString &folder)
{
    QFileInfo info(folder);
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            return false;
        info = QFileInfo(parent);
    }
    return info.isDir() && info.isWritable();
}

} // namespace

QString UserSettings::outputFolderFor(const QString &videoPath, bool create, bool *fallback) const
{
    if (fallback)
        *fallback = false;
    const QString folder = outputFolder();
    const QFileInfo info(folder);
    if (info.isDir() && info.isWritable())
        return folder;
    if (create ? QDir().mkpath(folder) && QFileInfo(folder).isWritable() : couldHold(folder))
        return folder;
    const QFileInfo own(QFileInfo(videoPath).absolutePath());
    if (!videoPath.isEmpty() && own.isDir() && own.isWritable()) {
        if (fallback)
            *fallback = true;
        return own.absoluteFilePath();
    }
    return QString();
}

QString UserSettings::defaultOutputFolder()
{
    return NSUtils::defaultMoviesFolder();
}
