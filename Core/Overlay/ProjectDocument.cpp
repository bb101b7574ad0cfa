#include "ProjectDocument.h"

#include "Project.h"
#include "VSError.h"

#include <QFileInfo>

void ProjectDocument::replace(std::shared_ptr<Project> project)
{
    current = std::move(project);
    kept.reset();
    modified = false;
}

ProjectDocument::Source ProjectDocument::open(const QString &path, const QString &workingFile)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    Source source;
    {
        const Project file(absolute, Project::OpenMode::ReadOnly);
        source.inputVideo = file.inputVideo();
        source.subtitlesSource = file.subtitlesFile();
        file.copyTo(workingFile);
    }
    current = std::make_shared<Project>(workingFile, Project::OpenMode::Existing);
    kept = absolute;
    modified = false;
    return source;
}

void ProjectDocument::saveTo(const QString &path)
{
    if (!current)
        throw VSError(QStringLiteral("There is no project to save."));
    const QString target = QFileInfo(path).absoluteFilePath();
    if (target == QFileInfo(current->projectFile).absoluteFilePath())
        throw VSError(QStringLiteral("Choose a folder of your own for the project."));
    current->copyTo(target);
    kept = target;
    modified = false;
}
