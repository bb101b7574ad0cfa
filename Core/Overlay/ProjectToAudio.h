#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class Project;

// Renders the items of a project that have audio into one track: each item's audio at its start,
// silence before it, never cut, so an item that overruns delays the next. Runs on a pool thread;
// reports progress (items done) and one finish on that thread. A track too long for AIFF is
// written as Wave64 instead (see AIFFFile::writtenTrack).
class ProjectToAudio {
public:
    using Progress = std::function<void(double)>;
    using Finish = std::function<void(bool, const QString &)>;

    // Opens its own connection to the project; throws VSError when it cannot. Once stop is set,
    // the render ends within a chunk of audio, reporting a failure.
    ProjectToAudio(QString projectFile, QString audioFile, Progress onProgress, Finish onFinish,
                   const std::atomic<bool> *stop = nullptr);
    ~ProjectToAudio();

    // Starts the render on the global thread pool and returns at once.
    void start();
    // The render itself, on the calling thread.
    void render();
    // Blocks until a started render has reported its finish.
    void waitForFinished();

    Project *project() const { return projectConnection.get(); }
    bool isRunning() const { return running; }

    const QString projectFile;
    const QString audioFile;

private:
    Progress onProgress;
    Finish onFinish;
    const std::atomic<bool> *stop;
    std::unique_ptr<Project> projectConnection;
    bool running = false;
    std::shared_ptr<struct ProjectToAudioDone> done;
};
