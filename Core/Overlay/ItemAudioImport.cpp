#include "ItemAudioImport.h"

#include "Project.h"
#include "VSError.h"
#include "VideoProcessor/AudioConversion.h"
#include "WorkingFolder.h"

#include <QTemporaryFile>

ItemAudioImport::Result ItemAudioImport::run(Project &project, int itemId, const QString &audioFile)
{
    Result result;
    try {
        QTemporaryFile scratch(WorkingFolder::filePath(QStringLiteral("attached-XXXXXX.aiff")));
        const QString converted = scratch.open() ? scratch.fileName() : QString();
        if (converted.isEmpty() || !AudioConversion::convertToPCMAudio(audioFile, converted)) {
            result.failure = QStringLiteral("Error while processing the audio file");
            return result;
        }
        try {
            result.duration = project.saveItemAudioFile(itemId, converted);
        } catch (const VSError &error) {
            result.failure = QStringLiteral("Error while attaching audio from the selected file");
            result.detail = error.message;
        }
    } catch (const VSError &error) {
        result.failure = QStringLiteral("Error while processing the audio file");
        result.detail = error.message;
    }
    return result;
}
