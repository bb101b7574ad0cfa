#pragma once

#include "ProjectItem.h"

#include <QByteArray>
#include <QList>

// The items of a project as SubRip text, one cue per item in the order given: what the
// subtitles are when nothing else says where the items came from.
class ProjectSubtitles {
public:
    static QByteArray subRip(const QList<ProjectItem> &items);
};
