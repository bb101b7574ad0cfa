#include "ProjectFromSubtitles.h"

#include "Project.h"
#include "Subtitles/SubtitlesParser.h"
#include "VSError.h"

#include <QFile>

ProjectFromSubtitles::Result ProjectFromSubtitles::build(const QString &projectFile,
                                                         const QString &inputVideo,
                                                         const QString &subtitlesSource,
                                                         const QString &subRipFile)
{
    Result result;
    try {
        if (QFile::exists(projectFile) && !QFile::remove(projectFile))
            throw VSError(QStringLiteral("Could not remove '%1'").arg(projectFile));
        const std::optional<SubtitlesParser> parsed = SubtitlesParser::fromFile(subRipFile);
        if (!parsed)
            throw VSError(QStringLiteral("Could not parse subtitles"));
        Project::createFromSubtitles(projectFile, inputVideo, subtitlesSource, parsed->subtitles);
        result.project = std::make_shared<Project>(projectFile, Project::OpenMode::Existing);
        result.items = result.project->getAllItems();
    } catch (const VSError &failure) {
        result.error = failure.message;
        result.project.reset();
    }
    return result;
}
