#include "MakeOutputChain.h"

#include "LanguageCodes.h"
#include "MakeOutputOperation.h"
#include "MakeVideoOperation.h"
#include "MaximizeVolumeOperation.h"
#include "OverlayProjectToAudio.h"
#include "Subtitles/Utils.h"
#include "SubtitlesToSpeechOperation.h"

#include "WorkingFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

MakeOutputChain::MakeOutputChain(const MakeOutputRequest &request)
{
    twoLetterCode = LanguageCodes::twoLetterCode(request.voiceLanguage);
    threeLetterCode = LanguageCodes::threeLetterCode(twoLetterCode);
    outputPath = Utils::reserveOutputFilePath(
        QDir(request.outputFolder).filePath(QFileInfo(request.inputVideo).fileName()),
        request.voiceLanguage);
    WorkingFolder::trackOutputFile(outputPath, WorkingFolder::Leftover::Reservation);

    std::shared_ptr<MakeOutputOperation> speech;
    if (request.projectFile)
        speech = std::make_shared<OverlayProjectToAudio>(QStringLiteral("Processing audio"),
                                                         *request.projectFile);
    else
        speech = std::make_shared<SubtitlesToSpeechOperation>(QStringLiteral("Processing audio"),
                                                              request.voice);
    auto video = std::make_shared<MakeVideoOperation>(
        QStringLiteral("Processing video"), request.inputVideo, request.videoTrack,
        request.audioTrack, request.videoInfo, request.subtitlesTrack, threeLetterCode, outputPath,
        request.options);
    video->addDependency(speech);
    operations = {speech, video};
    if (request.maximizeOutputVolume) {
        auto maximize = std::make_shared<MaximizeVolumeOperation>(outputPath);
        maximize->addDependency(video);
        operations.append(maximize);
    }
}

MakeOutputChain::~MakeOutputChain()
{
    if (!finished) {
        // Only the placeholder is ours to remove here: nothing has been written over it.
        if (QFileInfo(outputPath).size() == 0)
            QFile::remove(outputPath);
        WorkingFolder::untrackOutputFile(outputPath);
    }
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
        QFile::remove(outputPath);
    WorkingFolder::untrackOutputFile(outputPath);
    return path;
}
