#pragma once

#include "ProjectItem.h"

#include <QList>
#include <QString>
#include <memory>

class Project;

// A project made anew in place of the file at projectFile (see Project::createFromSubtitles), with
// one item per cue of a SubRip file, naming the input video and where the subtitles came from, and
// opened. Any thread.
class ProjectFromSubtitles {
public:
    struct Result {
        std::shared_ptr<Project> project; // none when it failed
        QList<ProjectItem> items;
        QString error;
    };
    static Result build(const QString &projectFile, const QString &inputVideo,
                        const QString &subtitlesSource, const QString &subRipFile);
};
