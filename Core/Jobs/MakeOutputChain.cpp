#include "MakeOutputChain.h"

#include "FileSystem.h"
#include "LanguageCodes.h"
#include "MakeOutputOperation.h"
#include "MakeVideoOperation.h"
#include "MaximizeVolumeOperation.h"
#include "OverlayProjectToAudio.h"
#include "Settings/UserSettings.h"
#include "Speech/SubtitlesToSpeech.h"
#include "Subtitles/Utils.h"
#include "SubtitlesToSpeechOperation.h"

#include "VSError.h"
#include "VideoProcessor/ContainerFormats.h"
#include "WorkingFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

// The empty regular file that reserved the name: whatever else stands there now is another's.
bool isPlaceholder(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_size == 0;
}

} // namespace

MakeOutputChain::MakeOutputChain(const MakeOutputRequest &request)
{
    twoLetterCode = LanguageCodes::twoLetterCode(request.voiceLanguage);
    threeLetterCode = LanguageCodes::threeLetterCode(twoLetterCode);
    if (const std::optional<QString> problem = ContainerFormats::outputProblem(
            request.inputVideo, request.videoInfo, request.audioTrack))
        throw VSError(*problem);
    outputPath = Utils::reserveOutputFilePath(
        QDir(request.outputFolder).filePath(QFileInfo(request.inputVideo).fileName()),
        request.voiceLanguage);
    WorkingFolder::trackOutputFile(outputPath, WorkingFolder::Leftover::Reservation);

    std::shared_ptr<MakeOutputOperation> speech;
    if (request.projectFile)
        speech = std::make_shared<OverlayProjectToAudio>(QStringLiteral("Processing audio"),
                                                         *request.projectFile);
    else {
        auto subtitlesToSpeech = std::make_shared<SubtitlesToSpeechOperation>(
            QStringLiteral("Processing audio"), request.voice);
        subtitlesToSpeech->keepSpeechInSync =
            request.options ? request.options->keepSpeechInSync
                            : UserSettings::shared().boolValue(UserSettings::keepSpeechInSyncKey);
        subtitlesToSpeech->jobs = request.speechJobs;
        speech = subtitlesToSpeech;
    }
    if (request.maximizeOutputVolume) {
        QString reason;
        intermediate = FileSystem::createHiddenFile(outputPath, QStringLiteral("unmaximized"),
                                                    &reason, WorkingFolder::claimPartialFile);
        if (!intermediate) {
            QFile::remove(outputPath);
            WorkingFolder::untrackOutputFile(outputPath);
            throw VSError(QStringLiteral("Could not write to '%1': %2")
                              .arg(QFileInfo(outputPath).absolutePath(), reason));
        }
    }
    auto video = std::make_shared<MakeVideoOperation>(
        QStringLiteral("Processing video"), request.inputVideo, request.videoTrack,
        request.audioTrack, request.videoInfo, request.subtitlesTrack, threeLetterCode,
        intermediate.value_or(outputPath), request.options);
    video->addDependency(speech);
    lastWriter = video;
    operations = {speech, video};
    if (intermediate) {
        auto maximize = std::make_shared<MaximizeVolumeOperation>(*intermediate, outputPath);
        maximize->addDependency(video);
        operations.append(maximize);
        lastWriter = maximize;
    }
}

MakeOutputChain::~MakeOutputChain()
{
    if (!finished) {
        removeOwnOutput(false);
        removeIntermediate();
        WorkingFolder::untrackOutputFile(outputPath);
    }
}

void MakeOutputChain::removeIntermediate() const
{
    if (!intermediate)
        return;
    QFile::remove(*intermediate);
    WorkingFolder::untrackOutputFile(*intermediate);
}

std::optional<QString> MakeOutputChain::finishedPath() const
{
    if (operations.isEmpty() || operations.last()->isCancelled())
        return std::nullopt;
    return outputPath;
}

std::optional<QString> MakeOutputChain::finish()
{
    finished = true;
    const std::optional<QString> path = finishedPath();
    if (!path)
        removeOwnOutput(lastWriter->isFinished() && !lastWriter->isCancelled());
    removeIntermediate();
    WorkingFolder::untrackOutputFile(outputPath);
    return path;
}

const SyncReport *MakeOutputChain::speechReport() const
{
    const auto speech =
        operations.isEmpty()
            ? nullptr
            : std::dynamic_pointer_cast<SubtitlesToSpeechOperation>(operations.first());
    const std::shared_ptr<SubtitlesToSpeech> renderer = speech ? speech->renderer() : nullptr;
    return renderer ? &renderer->report() : nullptr;
}

QString MakeOutputChain::loudnessNote() const
{
    for (const std::shared_ptr<MakeOutputOperation> &operation : operations)
        if (const auto made = std::dynamic_pointer_cast<MakeVideoOperation>(operation))
            return made->loudnessNote;
    return QString();
}

void MakeOutputChain::removeOwnOutput(bool videoWritten) const
{
    // The make-video job never replaces a file that took the name meanwhile (it fails then), so
    // the output path holds our video only when that job ended well.
    if (videoWritten || isPlaceholder(outputPath))
        QFile::remove(outputPath);
}
