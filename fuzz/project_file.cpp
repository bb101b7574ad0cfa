// A project file of any content, opened the way the window opens one: read-only to learn what
// it holds, then as the working project, and every item read.
#include "FuzzSupport.h"
#include "Overlay/Project.h"
#include "VSError.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path =
        FuzzSupport::writeFile(QStringLiteral("project.s2s"), FuzzSupport::bytes(data, size));
    try {
        {
            const Project file(path, Project::OpenMode::ReadOnly);
            file.inputVideo();
            file.subtitlesFile();
        }
        Project project(path, Project::OpenMode::Existing);
        project.getAllItems();
        project.countItemsWithAudio();
        project.hasItemsWithAudio();
        for (const int id : project.audioItemIds())
            project.getAudioItemWithId(id);
        for (int row = 0; row < 4; ++row) {
            project.getItem(row);
            project.getAudioItem(row);
        }
        project.setSortedBy(Project::lengthOrder);
        project.getAllItems();
        Project::sourceStream(project.subtitlesFile());
    } catch (const VSError &) {
    }
    FuzzSupport::clearFolder();
    return 0;
}
