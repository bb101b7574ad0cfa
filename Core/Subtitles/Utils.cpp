#include "Utils.h"

#include "Settings/UserSettings.h"
#include "VSError.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

QStringList Utils::timeComponents(qint64 ms)
{
    const qint64 parts[] = {ms / 3600000, (ms % 3600000) / 60000, (ms % 60000) / 1000, ms % 1000};
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts.append(QString::number(std::max<qint64>(parts[i], 0))
                         .rightJustified(i == 3 ? 3 : 2, QLatin1Char('0')));
    return texts;
}

QString Utils::fullTimeString(qint64 ms)
{
    const QStringList c = timeComponents(ms);
    return c[0] + u':' + c[1] + u':' + c[2] + u'.' + c[3];
}

QString Utils::shortTimeString(qint64 ms)
{
    const QStringList c = timeComponents(ms);
    const QString seconds = c[2] + u'.' + c[3];
    if (c[0] != QLatin1String("00"))
        return c[0] + u':' + c[1] + u':' + seconds;
    if (c[1] != QLatin1String("00"))
        return c[1] + u':' + seconds;
    return seconds;
}

QString Utils::clockTimeString(qint64 ms)
{
    const QStringList c = timeComponents(ms);
    const QString minutesSeconds = c[1] + u':' + c[2];
    if (c[0] != QLatin1String("00"))
        return c[0] + u':' + minutesSeconds;
    return minutesSeconds;
}

QString Utils::outputFilePath(const QString &path)
{
    return outputFilePath(path, UserSettings::shared().stringValue(UserSettings::voiceLanguageKey));
}

namespace {

struct OutputName {
    QString stem;
    QString ext;
    QString candidate(qint64 n) const
    {
        return n == 0 ? stem + u'.' + ext : stem + u'_' + QString::number(n) + u'.' + ext;
    }
};

OutputName outputName(const QString &path, const QString &voiceLanguage)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString dir = slash < 0 ? QString() : path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    // A leading point marks a hidden file, not an extension.
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot + 1) : QString();

    return {dir + base + QStringLiteral("_Kelvorandix_") + voiceLanguage, ext};
}

} // namespace

QString Utils::outputFilePath(const QString &path, const QString &voiceLanguage)
{
    const OutputName name = outputName(path, voiceLanguage);
    // A dangling link counts as taken: writing there would follow it.
    auto isFree = [](const QString &candidate) {
        const QFileInfo info(candidate);
        return !info.exists() && !info.isSymLink();
    };
    qint64 n = 0;
    while (!isFree(name.candidate(n)))
        ++n;
    return name.candidate(n);
}

QString Utils::reserveOutputFilePath(const QString &path, const QString &voiceLanguage)
{
    const OutputName name = outputName(path, voiceLanguage);
    for (qint64 n = 0;; ++n) {
        const QString candidate = name.candidate(n);
        // O_EXCL with O_CREAT fails on any existing name, a dangling link included.
        const int fd = ::open(QFile::encodeName(candidate).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST)
            throw VSError(QStringLiteral("Could not write '%1': %2")
                              .arg(candidate, QString::fromLocal8Bit(std::strerror(errno))));
    }
}

std::optional<QString>
Utils::inputFileProblem(const QString &path, std::optional<qint64> maximumSize, const QString &kind)
{
    const QFileInfo info(path);
    auto problem = [&](const QString &reason) {
        return QStringLiteral("Could not read '%1': %2").arg(path, reason);
    };
    if (!info.exists())
        return problem(QStringLiteral("no such file"));
    if (info.isDir())
        return problem(QStringLiteral("it is a folder"));
    // A device or a pipe could be read for ever.
    if (!info.isFile())
        return problem(QStringLiteral("it is not a regular file"));
    if (maximumSize && info.size() > *maximumSize)
        return problem(QStringLiteral("at %1 MB it is too large for a %2 (at most %3 MB)")
                           .arg(info.size() / (1024 * 1024))
                           .arg(kind)
                           .arg(*maximumSize / (1024 * 1024)));
    if (!info.isReadable())
        return problem(QStringLiteral("permission denied"));
    return std::nullopt;
}
