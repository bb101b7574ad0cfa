#include "FliteEngine.h"

#include "DemoTexts.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <flite/flite.h>
#include <flite/flite_version.h>
#include <vector>

extern "C" {
cst_voice *register_cmu_us_slt(const char *voxdir);
cst_voice *register_cmu_us_rms(const char *voxdir);
cst_voice *register_cmu_us_awb(const char *voxdir);
cst_voice *register_cmu_us_kal16(const char *voxdir);
}

namespace {

struct Voice {
    const char *name;
    cst_voice *(*registration)(const char *);
    const QString &gender;
    const char *displayName;
    // The duration stretch at 200 words per minute: measured against espeak-ng's American
    // English voice on a few subtitle-like sentences. flite's durations grow in proportion to
    // the stretch, and espeak-ng's in inverse proportion to the rate, so one factor per voice
    // serves every rate.
    float stretchAt200;
};

const std::array<Voice, 4> &builtInVoices()
{
    static const std::array<Voice, 4> voices{{
        {"slt", register_cmu_us_slt, VoiceAttributes::female, "Flite SLT", 0.760f},
        {"rms", register_cmu_us_rms, VoiceAttributes::male, "Flite RMS", 0.668f},
        {"awb", register_cmu_us_awb, VoiceAttributes::male, "Flite AWB (Scottish)", 0.751f},
        {"kal16", register_cmu_us_kal16, VoiceAttributes::male, "Flite KAL", 0.818f},
    }};
    return voices;
}

// The duration stretch of a voice (its name after the prefix) at a rate in words per minute.
float durationStretch(const QString &voice, int wordsPerMinute)
{
    for (const Voice &known : builtInVoices())
        if (voice == QLatin1String(known.name))
            return known.stretchAt200 * 200.0f / float(std::max(wordsPerMinute, 1));
    return 1;
}

// Every voice speaks at this rate; samples at another would play at the wrong speed.
constexpr int voiceSampleRate = 16000;

struct Stream {
    const SpeechEngine::Samples *sink = nullptr;
    float volume = 1.0f;
    bool wrongRate = false;
    std::vector<short> scaled;
};

int streamChunk(const cst_wave *wave, int start, int size, int, cst_audio_streaming_info *info)
{
    auto *stream = static_cast<Stream *>(info->userdata);
    if (wave->sample_rate != voiceSampleRate) {
        stream->wrongRate = true;
        return CST_AUDIO_STREAM_STOP;
    }
    const short *samples = wave->samples + start;
    if (stream->volume != 1.0f) {
        stream->scaled.resize(size_t(size));
        std::transform(samples, samples + size, stream->scaled.begin(), [&](short sample) {
            return short(std::clamp(std::lround(sample * stream->volume), -32768L, 32767L));
        });
        samples = stream->scaled.data();
    }
    return (*stream->sink)(samples, size) ? CST_AUDIO_STREAM_CONT : CST_AUDIO_STREAM_STOP;
}

// Synthesizes an utterance of tokens. flite ends the process on an internal error unless a jump
// target is set: there, the error comes back as Abandoned, and the utterance is left as it was (it
// may be half built). Nothing with a destructor may live in this frame.
enum class Synthesis { Done, Failed, Abandoned };
Synthesis synthesizeGuarded(cst_utterance *utterance)
{
    std::jmp_buf target;
    cst_errjmp = &target;
    if (setjmp(target) != 0) {
        cst_errjmp = nullptr;
        return Synthesis::Abandoned;
    }
    const bool synthesized = utt_synth_tokens(utterance) != nullptr;
    cst_errjmp = nullptr;
    return synthesized ? Synthesis::Done : Synthesis::Failed;
}

// flite knows only ASCII punctuation: typographic quotes, dashes and ellipses become their plain
// forms, which it pauses on as it should.
QByteArray plainText(const QString &text)
{
    QString plain = text;
    plain.replace(u'\u2018', u'\'').replace(u'\u2019', u'\'');
    plain.replace(u'\u201C', u'"').replace(u'\u201D', u'"');
    plain.replace(u'\u2013', u'-').replace(u'\u2014', u'-');
    plain.replace(QStringLiteral("\u2026"), QStringLiteral("..."));
    return plain.toUtf8();
}

} // namespace

FliteEngine &FliteEngine::instance()
{
    static FliteEngine *engine = [] {
        auto *created = new FliteEngine;
        created->start();
        qAddPostRoutine([] { FliteEngine::instance().shutDown(); });
        return created;
    }();
    return *engine;
}

FliteEngine::FliteEngine()
    : SpeechEngine(QStringLiteral("flite"))
{}

void FliteEngine::initialize()
{
    engineVersion = QStringLiteral(FLITE_PROJECT_VERSION);
    rate = voiceSampleRate;
    flite_init();
    QList<VoiceAttributes> voices;
    for (const Voice &voice : builtInVoices()) {
        cst_voice *registered = voice.registration(nullptr);
        if (!registered)
            continue;
        const QString identifier = voicePrefix + QLatin1String(voice.name);
        loaded.insert(identifier, registered);
        voices.append({identifier, QString::fromLatin1(voice.displayName), QStringLiteral("en_US"),
                       voice.gender, DemoTexts::forLanguage(QStringLiteral("en")),
                       QStringLiteral("English")});
    }
    setVoices(voices);
    if (voices.isEmpty()) {
        error = QStringLiteral("The speech engine flite %1 has no voices (install the package "
                               "flite)")
                    .arg(engineVersion);
        return;
    }
    available = true;
}

QString FliteEngine::synthesize(const Utterance &utterance, const Samples &sink)
{
    cst_voice *voice = loaded.value(utterance.voice);
    if (!voice)
        return QStringLiteral("Could not load the voice '%1'").arg(utterance.voice);

    Stream stream;
    stream.sink = &sink;
    stream.volume = std::clamp(utterance.volume, 0.0f, 2.0f);
    const float stretch = durationStretch(utterance.voice.mid(voicePrefix.size()), utterance.rate);

    // The text is spoken a sentence at a time, as flite reads files: the first sound comes
    // after one sentence's analysis rather than the whole text's, and a stop takes effect at
    // once.
    const QByteArray text = plainText(utterance.text);
    cst_tokenstream *tokens = ts_open_string(
        text.constData(), get_param_string(voice->features, "text_whitespace", nullptr),
        get_param_string(voice->features, "text_singlecharsymbols", nullptr),
        get_param_string(voice->features, "text_prepunctuation", nullptr),
        get_param_string(voice->features, "text_postpunctuation", nullptr));
    cst_breakfunc endsSentence = default_utt_break;
    if (feat_present(voice->features, "utt_break"))
        endsSentence = val_breakfunc(feat_val(voice->features, "utt_break"));

    // Speaks the sentence gathered so far and deletes it; false once the engine failed.
    auto speak = [&](cst_utterance *sentence) {
        // The voice is shared by every utterance, so what differs between them is set on the
        // utterance, whose features come before the voice's.
        utt_init(sentence, voice);
        feat_set_float(sentence->features, "duration_stretch", stretch);
        cst_audio_streaming_info *streaming = new_audio_streaming_info();
        streaming->asc = streamChunk;
        streaming->userdata = &stream;
        feat_set(sentence->features, "streaming_info", audio_streaming_info_val(streaming));
        // The voices draw the noise of unvoiced sounds from rand(): seeded alike before every
        // sentence, the same text gives the same samples.
        std::srand(1);
        const Synthesis result = synthesizeGuarded(sentence);
        if (result != Synthesis::Abandoned)
            delete_utterance(sentence); // also frees the streaming info
        return result == Synthesis::Done;
    };

    bool failed = false;
    cst_utterance *sentence = new_utterance();
    cst_relation *words = utt_relation_create(sentence, "Token");
    int count = 0;
    while (!ts_eof(tokens) || count > 0) {
        const char *token = ts_get(tokens);
        if (token[0] == '\0' || count > 500 ||
            (relation_head(words) && endsSentence(tokens, token, words))) {
            failed = !speak(sentence);
            sentence = nullptr;
            // Asks the sink whether to go on.
            if (failed || stream.wrongRate || !sink(nullptr, 0) || ts_eof(tokens))
                break;
            sentence = new_utterance();
            words = utt_relation_create(sentence, "Token");
            count = 0;
        }
        ++count;
        cst_item *word = relation_append(words, nullptr);
        item_set_string(word, "name", token);
        item_set_string(word, "whitespace", tokens->whitespace);
        item_set_string(word, "prepunctuation", tokens->prepunctuation);
        item_set_string(word, "punc", tokens->postpunctuation);
    }
    if (sentence)
        delete_utterance(sentence);
    ts_close(tokens);

    if (stream.wrongRate)
        return QStringLiteral("The voice '%1' speaks at an unexpected sample rate")
            .arg(utterance.voice);
    if (failed)
        return QStringLiteral("The speech engine flite could not speak the text");
    return QString();
}
