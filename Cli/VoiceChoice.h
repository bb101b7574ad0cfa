#pragma once

#include <QString>
#include <optional>

// The voice a command speaks with: the one asked for, else the choice stored by the voice
// chooser, else the synthesizer's default voice (nothing).
class VoiceChoice {
public:
    static std::optional<QString> resolve(const std::optional<QString> &requested);
};
