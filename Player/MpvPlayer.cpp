#include "MpvPlayer.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QVariantMap>
#include <algorithm>
#include <clocale>
#include <cstring>
#include <mpv/client.h>
#include <utility>

namespace {

QVariant nodeToVariant(const mpv_node &node)
{
    switch (node.format) {
    case MPV_FORMAT_STRING:
        return QString::fromUtf8(node.u.string);
    case MPV_FORMAT_FLAG:
        return bool(node.u.flag);
    case MPV_FORMAT_INT64:
        return qint64(node.u.int64);
    case MPV_FORMAT_DOUBLE:
        return node.u.double_;
    case MPV_FORMAT_NODE_ARRAY: {
        QVariantList list;
        for (int i = 0; i < node.u.list->num; ++i)
            list.append(nodeToVariant(node.u.list->values[i]));
        return list;
    }
    case MPV_FORMAT_NODE_MAP: {
        QVariantMap map;
        for (int i = 0; i < node.u.list->num; ++i)
            map.insert(QString::fromUtf8(node.u.list->keys[i]),
                       nodeToVariant(node.u.list->values[i]));
        return map;
    }
    default:
        return {};
    }
}

QString numericLocaleProblem()
{
    const char *numeric = std::setlocale(LC_NUMERIC, nullptr);
    if (!numeric || std::strcmp(numeric, "C") == 0 || std::strcmp(numeric, "POSIX") == 0)
        return {};
    return QStringLiteral(" (the numeric locale is \"%1\"; mpv needs \"C\")")
        .arg(QString::fromLocal8Bit(numeric));
}

} // namespace

MpvPlayer::MpvPlayer(Output output, QObject *parent)
    : QObject(parent)
    , outputKind(output)
{
    qRegisterMetaType<MpvPlayer::PlaybackState>();
    mpv = mpv_create();
    if (!mpv) {
        startError =
            QStringLiteral("The media player could not be started%1.").arg(numericLocaleProblem());
        return;
    }

    // Never read the user's mpv configuration, scripts or key bindings, and draw nothing of
    // mpv's own over the picture: the view draws the subtitles itself.
    const QList<std::pair<const char *, const char *>> common = {
        {"config", "no"},
        {"terminal", "no"},
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"osd-level", "0"},
        {"osd-bar", "no"},
        {"sub-auto", "no"},
        {"sid", "no"},
        {"audio-display", "no"},
        {"hwdec", "no"},
        {"gpu-hwdec-interop", "no"},
        {"idle", "yes"},
        {"pause", "yes"},
        {"audio-client-name", "Kelvorandix"},
        // The sound servers and ALSA only: probing SDL or JACK may fork a D-Bus or JACK daemon
        // from inside our process, which can hang it.
        {"ao", "pipewire,pulse,alsa"},
    };
    for (const auto &[name, value] : common)
        mpv_set_option_string(mpv, name, value);
    if (output == Output::Video) {
        mpv_set_option_string(mpv, "vo", "libmpv");
        mpv_set_option_string(mpv, "keep-open", "yes");
        // Without a sound server the picture still plays, timed by a silent output.
        mpv_set_option_string(mpv, "audio-fallback-to-null", "yes");
    } else {
        mpv_set_option_string(mpv, "vid", "no");
        mpv_set_option_string(mpv, "vo", "null");
        mpv_set_option_string(mpv, "keep-open", "no");
    }

    const int status = mpv_initialize(mpv);
    if (status < 0) {
        startError = QStringLiteral("The media player could not be started: %1%2.")
                         .arg(QString::fromUtf8(mpv_error_string(status)), numericLocaleProblem());
        mpv_terminate_destroy(mpv);
        mpv = nullptr;
        return;
    }
    mpv_request_log_messages(mpv, "error");
    mpv_observe_property(mpv, TimePosReply, timePosProperty, MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv, DurationReply, durationProperty, MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv, PauseReply, pauseProperty, MPV_FORMAT_FLAG);
    mpv_observe_property(mpv, EofReachedReply, eofReachedProperty, MPV_FORMAT_FLAG);
    mpv_observe_property(mpv, TrackListReply, trackListProperty, MPV_FORMAT_NODE);
    mpv_observe_property(mpv, VolumeReply, volumeProperty, MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv, MuteReply, muteProperty, MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(
        mpv, [](void *player) { static_cast<MpvPlayer *>(player)->scheduleDrain(); }, this);
    if (output == Output::AudioOnly)
        videoOutputReady = true;
}

MpvPlayer::~MpvPlayer()
{
    if (!mpv)
        return;
    // After this returns mpv calls nothing of ours; events already posted die with this object.
    mpv_set_wakeup_callback(mpv, nullptr, nullptr);
    emit aboutToShutDown();
    mpv_terminate_destroy(mpv);
}

// Called on mpv's threads.
void MpvPlayer::scheduleDrain()
{
    if (!drainPending.exchange(true))
        QMetaObject::invokeMethod(this, &MpvPlayer::drainEvents, Qt::QueuedConnection);
}

void MpvPlayer::drainEvents()
{
    drainPending = false;
    const QPointer<MpvPlayer> alive(this);
    while (mpv) {
        const mpv_event *event = mpv_wait_event(mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
        if (!alive)
            return;
    }
    if (failure) {
        const QString reason = lastError.isEmpty() ? *failure : lastError;
        failure.reset();
        fail(reason);
    }
}

void MpvPlayer::handleEvent(const mpv_event &event)
{
    switch (event.event_id) {
    case MPV_EVENT_START_FILE:
        playingCurrentEntry = isCurrentEntry(
            static_cast<const mpv_event_start_file *>(event.data)->playlist_entry_id);
        loaded = false;
        eofReached = false;
        seeking = true;
        lastError.clear();
        trackList.clear();
        emitStateIfChanged();
        return;
    case MPV_EVENT_FILE_LOADED: {
        if (!playingCurrentEntry)
            return;
        loaded = true;
        applyWantedTracks();
        const QPointer<MpvPlayer> alive(this);
        emit fileLoaded();
        if (alive)
            emitStateIfChanged();
        return;
    }
    case MPV_EVENT_END_FILE: {
        const auto *end = static_cast<const mpv_event_end_file *>(event.data);
        if (!isCurrentEntry(end->playlist_entry_id))
            return;
        playingCurrentEntry = false;
        loaded = false;
        if (end->reason == MPV_END_FILE_REASON_REDIRECT) {
            // A playlist gave way to its entries: the first of them is what was asked for now.
            currentEntry = end->playlist_insert_id;
        } else if (end->reason == MPV_END_FILE_REASON_ERROR) {
            // mpv hands out log messages after the events queued with them: the one naming the
            // cause comes later in this drain.
            failure = QString::fromUtf8(mpv_error_string(end->error));
        }
        const QPointer<MpvPlayer> alive(this);
        emitStateIfChanged();
        if (alive && end->reason == MPV_END_FILE_REASON_EOF)
            emit finished();
        return;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
        seeking = false;
        // The time reported so far may predate the seek; ask for the one after it.
        mpv_get_property_async(mpv, TimePosReply, timePosProperty, MPV_FORMAT_DOUBLE);
        emit seekFinished();
        return;
    case MPV_EVENT_PROPERTY_CHANGE:
    case MPV_EVENT_GET_PROPERTY_REPLY:
        if (event.error >= 0)
            handlePropertyChange(event.reply_userdata, event);
        return;
    case MPV_EVENT_COMMAND_REPLY:
        if (event.error < 0 && event.reply_userdata == SeekReply)
            seeking = false;
        if ((event.reply_userdata & LoadReply) == LoadReply &&
            event.reply_userdata >> 8 == loadGeneration) {
            if (event.error < 0) {
                // mpv starts nothing then, and says nothing more about it.
                failure = QString::fromUtf8(mpv_error_string(event.error));
                return;
            }
            const QVariant entry =
                nodeToVariant(static_cast<const mpv_event_command *>(event.data)->result)
                    .toMap()
                    .value(QStringLiteral("playlist_entry_id"));
            currentEntry = entry.isValid() ? entry.toLongLong() : -1;
        }
        return;
    case MPV_EVENT_LOG_MESSAGE: {
        // The first error after a file starts names the cause; later ones tend to restate it.
        const auto *message = static_cast<const mpv_event_log_message *>(event.data);
        if (lastError.isEmpty())
            lastError = QString::fromUtf8(message->text).trimmed();
        return;
    }
    default:
        return;
    }
}

void MpvPlayer::handlePropertyChange(quint64 reply, const mpv_event &event)
{
    const auto *property = static_cast<const mpv_event_property *>(event.data);
    const bool present = property->format != MPV_FORMAT_NONE;
    switch (reply) {
    case TimePosReply:
        if (!present)
            return;
        timePos = *static_cast<const double *>(property->data);
        if (!seeking && loaded && timePos != emittedTimePos) {
            emittedTimePos = timePos;
            emit timeChanged(timePos);
        }
        return;
    case DurationReply:
        length = present ? *static_cast<const double *>(property->data) : 0;
        emit durationChanged(length);
        return;
    case PauseReply:
        paused = present && *static_cast<const int *>(property->data);
        emitStateIfChanged();
        return;
    case EofReachedReply: {
        const bool wasAtEnd = eofReached;
        eofReached = present && *static_cast<const int *>(property->data);
        const bool reachedNow = eofReached && !wasAtEnd && loaded;
        const QPointer<MpvPlayer> alive(this);
        emitStateIfChanged();
        if (alive && reachedNow)
            emit endReached();
        return;
    }
    case TrackListReply: {
        trackList.clear();
        if (present) {
            const auto *node = static_cast<const mpv_node *>(property->data);
            const QVariantList entries = nodeToVariant(*node).toList();
            for (const QVariant &entry : entries) {
                const QVariantMap map = entry.toMap();
                Track track;
                track.id = map.value(QStringLiteral("id")).toLongLong();
                track.type = map.value(QStringLiteral("type")).toString();
                track.streamIndex = map.value(QStringLiteral("ff-index"), -1).toInt();
                track.selected = map.value(QStringLiteral("selected")).toBool();
                trackList.append(track);
            }
        }
        applyWantedTracks();
        emit tracksChanged();
        return;
    }
    case VolumeReply:
        if (present) {
            volumePercent = *static_cast<const double *>(property->data);
            emit volumeChanged(volumePercent / 100.0);
        }
        return;
    case MuteReply:
        if (present) {
            muted = *static_cast<const int *>(property->data);
            emit mutedChanged(muted);
        }
        return;
    case ExtraPropertyReply:
        emit propertyChanged(QString::fromUtf8(property->name),
                             present ? nodeToVariant(*static_cast<const mpv_node *>(property->data))
                                     : QVariant());
        return;
    default:
        return;
    }
}

void MpvPlayer::setVideoOutputReady(bool ready)
{
    videoOutputReady = ready;
    if (ready && pendingLoad) {
        const QString url = *pendingLoad;
        pendingLoad.reset();
        startLoad(url);
    }
}

void MpvPlayer::setVideoOutputFailed(const QString &message)
{
    videoOutputError = message;
    videoOutputReady = false;
    if (pendingLoad) {
        pendingLoad.reset();
        fail(message);
    }
}

void MpvPlayer::load(const QString &url)
{
    // mpv reads "-" as standard input and a bare name relative to its own idea of the folder.
    file = url.contains(QStringLiteral("://")) ? url : QFileInfo(url).absoluteFilePath();
    abandonLoad();
    eofReached = false;
    timePos = 0;
    emittedTimePos = -1;
    wantedAudioStream.reset();
    wantedVideoStream.reset();
    trackList.clear();
    if (!mpv) {
        failLater(startError);
        return;
    }
    if (videoOutputError) {
        failLater(*videoOutputError);
        return;
    }
    if (!videoOutputReady) {
        pendingLoad = file;
        return;
    }
    startLoad(file);
}

void MpvPlayer::startLoad(const QString &url)
{
    seeking = true;
    command({QByteArrayLiteral("loadfile"), url.toUtf8(), QByteArrayLiteral("replace")},
            loadGeneration << 8 | LoadReply);
}

void MpvPlayer::abandonLoad()
{
    ++loadGeneration;
    currentEntry.reset();
    playingCurrentEntry = false;
    pendingLoad.reset();
    failure.reset();
    loaded = false;
}

bool MpvPlayer::isCurrentEntry(qint64 entry) const
{
    return currentEntry && (*currentEntry < 0 || *currentEntry == entry);
}

void MpvPlayer::failLater(const QString &message)
{
    // Like mpv's own failures, this one arrives after load() has returned.
    QMetaObject::invokeMethod(
        this,
        [this, message, generation = loadGeneration] {
            if (generation == loadGeneration)
                fail(message);
        },
        Qt::QueuedConnection);
}

void MpvPlayer::stop()
{
    abandonLoad();
    if (mpv)
        command({QByteArrayLiteral("stop")});
    const QPointer<MpvPlayer> alive(this);
    emitStateIfChanged();
    if (alive)
        emit stopped();
}

void MpvPlayer::play()
{
    if (!mpv)
        return;
    // At the end of a kept-open file unpausing would leave the picture standing on its last frame.
    if (eofReached && loaded)
        seek(0);
    setFlag(pauseProperty, false);
}

void MpvPlayer::pause()
{
    if (mpv)
        setFlag(pauseProperty, true);
}

MpvPlayer::PlaybackState MpvPlayer::playbackState() const
{
    if (!loaded)
        return PlaybackState::Stopped;
    return paused || eofReached ? PlaybackState::Paused : PlaybackState::Playing;
}

void MpvPlayer::seek(qint64 milliseconds)
{
    if (!mpv || !loaded)
        return;
    // mpv counts a negative absolute time from the end of the file.
    const double seconds = double(std::max<qint64>(milliseconds, 0)) / 1000.0;
    seeking = true;
    command({QByteArrayLiteral("seek"), QByteArray::number(seconds, 'f', 3),
             QByteArrayLiteral("absolute+exact")},
            SeekReply);
}

void MpvPlayer::selectAudioTrack(int streamIndex)
{
    selectTrack(QStringLiteral("audio"), streamIndex);
}

void MpvPlayer::selectVideoTrack(int streamIndex)
{
    selectTrack(QStringLiteral("video"), streamIndex);
}

void MpvPlayer::selectTrack(const QString &type, int streamIndex)
{
    if (!mpv)
        return;
    const bool audio = type == QLatin1String("audio");
    if (!loaded || trackList.isEmpty()) {
        (audio ? wantedAudioStream : wantedVideoStream) = streamIndex;
        return;
    }
    for (const Track &track : std::as_const(trackList)) {
        if (track.type == type && track.streamIndex == streamIndex) {
            int64_t id = track.id;
            mpv_set_property_async(mpv, CommandReply, audio ? audioIdProperty : videoIdProperty,
                                   MPV_FORMAT_INT64, &id);
            return;
        }
    }
}

void MpvPlayer::applyWantedTracks()
{
    if (!loaded || trackList.isEmpty())
        return;
    if (const std::optional<int> audio = std::exchange(wantedAudioStream, std::nullopt))
        selectTrack(QStringLiteral("audio"), *audio);
    if (const std::optional<int> video = std::exchange(wantedVideoStream, std::nullopt))
        selectTrack(QStringLiteral("video"), *video);
}

int MpvPlayer::selectedStreamIndex(const QString &type) const
{
    for (const Track &track : trackList)
        if (track.type == type && track.selected)
            return track.streamIndex;
    return -1;
}

void MpvPlayer::setVolume(double fraction)
{
    if (!mpv)
        return;
    double percent = std::clamp(fraction, 0.0, 1.0) * 100.0;
    mpv_set_property_async(mpv, CommandReply, volumeProperty, MPV_FORMAT_DOUBLE, &percent);
}

void MpvPlayer::setMuted(bool mute)
{
    if (mpv)
        setFlag(muteProperty, mute);
}

void MpvPlayer::observe(const char *name)
{
    if (mpv)
        mpv_observe_property(mpv, ExtraPropertyReply, name, MPV_FORMAT_NODE);
}

void MpvPlayer::command(const QList<QByteArray> &arguments, quint64 reply)
{
    QList<const char *> pointers;
    for (const QByteArray &argument : arguments)
        pointers.append(argument.constData());
    pointers.append(nullptr);
    mpv_command_async(mpv, reply, pointers.data());
}

void MpvPlayer::setFlag(const char *name, bool value)
{
    int flag = value ? 1 : 0;
    mpv_set_property_async(mpv, CommandReply, name, MPV_FORMAT_FLAG, &flag);
}

void MpvPlayer::emitStateIfChanged()
{
    const PlaybackState state = playbackState();
    if (state == lastState)
        return;
    lastState = state;
    emit playbackStateChanged(state);
}

void MpvPlayer::fail(const QString &message)
{
    emit loadFailed(message);
}
