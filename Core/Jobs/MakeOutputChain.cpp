#include "MakeOutputChain.h"

#include "LanguageCodes.h"
#include "MakeOutputOperation.h"
#include "MakeVideoOperation.h"
#include "MaximizeVolumeOperation.h"
#include "OverlayProjectToAudio.h"
#include "Subtitles/Utils.h"
#include "SubtitlesToSpeechOperation.h"

#include <QDir>
#include <QFileInfo>

MakeOutputChain::MakeOutputChain(const MakeOutputRequest &request)
{
    twoLetterCode = LanguageCodes::twoLetterCode(request.voiceLanguage);
    threeLetterCode = LanguageCodes::threeLetterCode(twoLetterCode);
    outputPath = Utils::outputFilePath(
        QDir(request.outputFolder).filePath(QFileInfo(request.inputVideo).fileName()),
        request.voiceLanguage);

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

std::optional<QString> MakeOutputChain::finishedPath() const
{
    if (operations.isEmpty() || operations.last()->isCancelled())
        return std::nullopt;
    return outputPath;
}
