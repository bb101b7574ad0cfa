#pragma once

#include <QString>

// The private folder that holds this process's fixed working files.
//
// One folder per running process (mode 0700), created on first use and removed when the process
// exits, so that two instances never share a working file and no other local user can plant one.
class WorkingFolder {
public:
    static inline const QString subtitlesFileName = QStringLiteral("subtitles.srt");
    static inline const QString speechFileName = QStringLiteral("speech.aiff");
    static inline const QString projectFileName = QStringLiteral("project.s2s");
    static inline const QString overlayAudioFileName = QStringLiteral("overlay_audio.aiff");
    static inline const QString projectItemFileName = QStringLiteral("project_item.aiff");

    // Absolute path of the folder; throws VSError when it cannot be created.
    static QString path();
    static QString filePath(const QString &fileName);

    static QString subtitlesFile() { return filePath(subtitlesFileName); }
    static QString speechFile() { return filePath(speechFileName); }
    static QString projectFile() { return filePath(projectFileName); }
    static QString overlayAudioFile() { return filePath(overlayAudioFileName); }
    static QString projectItemFile() { return filePath(projectItemFileName); }
};
