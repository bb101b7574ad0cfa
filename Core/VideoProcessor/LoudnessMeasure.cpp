#include "LoudnessMeasure.h"

#include "MediaProbe.h"
#include "ToolRunner.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

QString LoudnessMeasure::meterFilter(bool truePeak)
{
    // Frame lines go to the verbose log, which a run at the default level leaves out.
    return truePeak ? QStringLiteral("ebur128=peak=true:framelog=verbose")
                    : QStringLiteral("ebur128=peak=sample:framelog=verbose");
}

QString LoudnessMeasure::limiterFilter()
{
    return QStringLiteral("alimiter=limit=%1:level=false:latency=true")
        .arg(QString::number(std::pow(10.0, limiterCeiling / 20.0), 'f', 6));
}

std::optional<LoudnessMeasure::Measurement> LoudnessMeasure::parse(const QString &output)
{
    // The summary comes last; its values follow "I:" and "Peak:" on lines of their own.
    std::optional<double> integrated;
    std::optional<double> peak;
    for (const QStringView line : ToolRunner::linesOf(output)) {
        const QStringList parts = line.trimmed().toString().split(u' ', Qt::SkipEmptyParts);
        if (parts.size() != 3)
            continue;
        if (parts[0] == QLatin1String("I:") && parts[2] == QLatin1String("LUFS"))
            integrated = MediaProbe::cDecimal(parts[1]);
        else if (parts[0] == QLatin1String("Peak:") && parts[2] == QLatin1String("dBFS"))
            peak = parts[1] == QLatin1String("-inf") ? -std::numeric_limits<double>::infinity()
                                                     : MediaProbe::cDecimal(parts[1]);
    }
    // The meter reports -70 LUFS, its floor, when no block passed its gate.
    if (!integrated || !peak || *integrated <= -70.0)
        return std::nullopt;
    return Measurement{*integrated, *peak};
}

double LoudnessMeasure::gain(const Measurement &measurement, int target)
{
    return std::min(maximumGain, double(target) - measurement.integrated);
}

bool LoudnessMeasure::needsLimit(const Measurement &measurement, double gain)
{
    return measurement.truePeak + gain > limiterCeiling;
}

bool LoudnessMeasure::limitsHeavily(const Measurement &measurement, double gain)
{
    return measurement.truePeak + gain > limiterCeiling + heavyLimit;
}

QString LoudnessMeasure::gainText(double gain)
{
    return QString::number(gain, 'f', 2);
}
