#pragma once

enum class SubtitleType { SubRip, Unknown };
