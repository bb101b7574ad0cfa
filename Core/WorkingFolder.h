#pragma once

#include <QString>

// The private folder that holds this process's fixed working files.
//
// One folder per running process (mode 0700), created on first use and removed when the process
// exits, so that two instances never share a working file and no other local user can plant one.
// A process that is killed cannot remove its folder: the folder holds a lock while its process
// lives, and the next process to start removes the folders whose lock nobody holds.
class WorkingFolder {
public:
    static inline const QString subtitlesFileName = QStringLiteral("subtitles.srt");
    static inline const QString speechFileName = QStringLiteral("speech.aiff");
    static inline const QString projectFileName = QStringLiteral("project.s2s");
    static inline const QString overlayAudioFileName = QStringLiteral("overlay_audio.aiff");
    static inline const QString projectItemFileName = QStringLiteral("project_item.aiff");
    // The window's microphone recording under review: apart from overlay_audio.aiff, which the
    // speech of the Text to Speech sheet goes through, so that speech never replaces it.
    static inline const QString recordingFileName = QStringLiteral("overlay_recording.aiff");

    // Absolute path of the folder; throws VSError when it cannot be created.
    static QString path();
    static QString filePath(const QString &fileName);

    static QString subtitlesFile() { return filePath(subtitlesFileName); }
    static QString speechFile() { return filePath(speechFileName); }
    static QString projectFile() { return filePath(projectFileName); }
    static QString overlayAudioFile() { return filePath(overlayAudioFileName); }
    static QString projectItemFile() { return filePath(projectItemFileName); }
    static QString recordingFile() { return filePath(recordingFileName); }

    // Files this process writes outside its folder while it works. Should the process die, the
    // next start removes what is left of them: a partial file always, a reserved name only while
    // it is still the empty placeholder (a finished video there is kept). Main thread.
    enum class Leftover { Partial, Reservation };
    static void trackOutputFile(const QString &file, Leftover kind);
    static void untrackOutputFile(const QString &file);
    // Tracks a partial file that FileSystem::createHiddenFile is about to create, from before
    // it exists.
    static void claimPartialFile(const QString &file, bool claimed);

    // Removes the working folders of this user's processes that are gone, and the output files
    // they listed. Returns how many folders were removed.
    static int removeStaleFolders();
};
