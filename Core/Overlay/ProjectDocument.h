#pragma once

#include <QString>
#include <memory>
#include <optional>

class Project;

// The voice-over project the window works on: a copy in the working folder, where every job reads
// and writes it, of the file the user keeps (none before the first save), and whether the copy
// holds changes that file lacks. Saving copies it back whole or not at all.
class ProjectDocument {
public:
    const std::shared_ptr<Project> &project() const { return current; }
    // The file the project is kept in; none for a project never saved.
    const std::optional<QString> &file() const { return kept; }
    bool isModified() const { return current && modified; }
    void noteModified() { modified = true; }

    // A project made anew (or none): it has no file yet.
    void replace(std::shared_ptr<Project> project);

    // What an opened project file says of where its items came from.
    struct Source {
        QString inputVideo;
        QString subtitlesSource;
    };
    // Opens a copy, made at workingFile, of the project file at path, in place of the current
    // project. The file is only read. Throws VSError, keeping the current project.
    Source open(const QString &path, const QString &workingFile);
    // Writes the project to path, replacing a file there, and keeps it there from now on.
    // Throws VSError; the working copy itself is no place to keep it.
    void saveTo(const QString &path);

private:
    std::shared_ptr<Project> current;
    std::optional<QString> kept;
    bool modified = false;
};
