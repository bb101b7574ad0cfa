#pragma once

#include <QByteArray>
#include <QRectF>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>

// The user's persisted preferences and the key strings they are stored under.
//
// The store is an INI file in the standard per-user location, or the file named by the
// environment variable KELVORANDIX_SETTINGS (tests and scripted runs point it elsewhere so that
// they never touch the user's real preferences). Nothing is cached: every accessor reads the file
// afresh, and every write reaches the disk at once. Each access opens its own QSettings handle, so
// the store may be used from any thread.
class UserSettings {
public:
    static inline const QString voiceLanguageKey = QStringLiteral("voiceLanguage");
    static inline const QString voiceGenderKey = QStringLiteral("voiceGender");
    static inline const QString voiceNameKey = QStringLiteral("voiceName");
    static inline const QString newAudioStreamKey = QStringLiteral("newAudioStreamKey");
    static inline const QString defaultAudioStreamKey = QStringLiteral("defaultAudioStreamKey");
    static inline const QString maximizeOutputVolumeKey = QStringLiteral("maximizeOutputVolumeKey");
    // Boolean, absent reads as false: fit each cue's speech to keep pace with the subtitles.
    static inline const QString keepSpeechInSyncKey = QStringLiteral("keepSpeechInSyncKey");
    // Boolean, absent reads as false: lower the original audio only while the speech plays.
    static inline const QString duckOriginalAudioKey = QStringLiteral("duckOriginalAudioKey");
    // Integer LUFS the voiced audio is brought to: -23 (broadcast) or -16 (online video); absent
    // or any other value reads as no target.
    static inline const QString loudnessTargetKey = QStringLiteral("loudnessTargetKey");
    static inline const QString defaultSubtitlesStreamKey =
        QStringLiteral("defaultSubtitlesStreamKey");
    static inline const QString newSubtitlesStreamKey = QStringLiteral("newSubtitlesStreamKey");
    static inline const QString volumeKey = QStringLiteral("volumeKey");
    static inline const QString playerVolumeKey = QStringLiteral("playerVolumeKey");
    static inline const QString fileOpenedWithFinderKey = QStringLiteral("fileOpenedWithFinderKey");
    // Kept for the file format; no bookmark is written on Linux, where the path alone is enough.
    static inline const QString securityScopedBookmarkKey =
        QStringLiteral("outputFolderSecurityScopedBookmarkKey");
    static inline const QString outputFolderKey = QStringLiteral("outputFolderKey");
    static inline const QString isFirstTimeRunningKey = QStringLiteral("isFirstTimeRunningKey");
    static inline const QString mainWindowFrameKeyX = QStringLiteral("mainWindowFrameKeyX");
    static inline const QString mainWindowFrameKeyY = QStringLiteral("mainWindowFrameKeyY");
    static inline const QString mainWindowFrameKeyW = QStringLiteral("mainWindowFrameKeyW");
    static inline const QString mainWindowFrameKeyH = QStringLiteral("mainWindowFrameKeyH");
    static inline const QString isSubtitlesVisibleKey = QStringLiteral("isSubtitlesVisible");
    // The voice-over projects opened or saved last, newest first.
    static inline const QString recentProjectsKey = QStringLiteral("recentProjectsKey");
    // How the main window's panels were divided when it was closed.
    static inline const QString mainWindowSplitKey = QStringLiteral("mainWindowSplitKey");
    static constexpr int recentProjectsLimit = 10;

    static inline const char *const settingsFileVariable = "KELVORANDIX_SETTINGS";

    // The one process-wide instance, created on first use.
    static UserSettings &shared();

    // The store at the standard location, or at $KELVORANDIX_SETTINGS when that is set.
    UserSettings();
    // The store in the given INI file.
    explicit UserSettings(QString settingsFile);

    QString fileName() const { return file; }

    // A fresh handle on the store, for uses the accessors below do not cover.
    std::unique_ptr<QSettings> defaults() const;
    void dropSerializedValues() const;

    bool contains(const QString &key) const;
    QVariant object(const QString &key) const;
    void setObject(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // Typed getters with the usual conversions: absent or unreadable values read as false, 0,
    // 0.0 and the empty string.
    bool boolValue(const QString &key) const;
    qint64 integerValue(const QString &key) const;
    double doubleValue(const QString &key) const;
    QString stringValue(const QString &key) const;
    void setBool(const QString &key, bool value) { setObject(key, value); }
    void setInteger(const QString &key, qint64 value) { setObject(key, value); }
    void setDouble(const QString &key, double value) { setObject(key, value); }
    void setString(const QString &key, const QString &value) { setObject(key, value); }

    // Mixing volume in percent, 0 to 100; 50 when absent or unreadable. A stored value outside
    // that range (a negative one would invert the original's phase) is read as the nearer end,
    // and storedVolumeOutOfRange tells what it was.
    int volume() const;
    std::optional<qint64> storedVolumeOutOfRange() const;
    // The loudness target in LUFS, -23 or -16; none when absent or anything else.
    std::optional<int> loudnessTarget() const;
    // Stores a target, or removes it for none.
    void setLoudnessTarget(std::optional<int> lufs);
    // Preview player volume; 100 when absent or unreadable.
    qint32 playerVolume() const;
    // True until the main view has loaded once.
    bool isFirstTimeRunning() const;
    // The saved main window frame; absent when all four values are 0.0.
    std::optional<QRectF> mainWindowFrame() const;
    // Writes X, Y, W, H in that order; no frame writes zeros, which read back as absent.
    void setMainWindowFrame(const std::optional<QRectF> &frame);
    std::optional<QByteArray> securityScopedBookmark() const;

    // Newest first, at most recentProjectsLimit; adding one moves it to the front.
    QStringList recentProjects() const;
    void addRecentProject(const QString &path);
    void removeRecentProject(const QString &path);

    // The stored output folder while it is a writable folder, else the default output folder.
    QString outputFolder() const;
    // Where a video made from videoPath goes: the output folder, created when it is missing
    // (only creating it when create is true); else, when that cannot be, the video's own folder,
    // with fallback set. Empty when neither can be written to.
    QString outputFolderFor(const QString &videoPath, bool create, bool *fallback = nullptr) const;
    void setOutputFolder(const QString &path);
    static QString defaultOutputFolder();

private:
    static std::optional<qint64> readInteger(const QVariant &value);

    QString file;
};
