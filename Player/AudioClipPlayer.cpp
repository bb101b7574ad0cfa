#include "AudioClipPlayer.h"

#include <QMetaObject>
#include <cstring>
#include <mpv/client.h>
#include <mpv/stream_cb.h>

namespace {

constexpr const char *clipProtocol = "kelvorandix-clip";

struct ClipStream {
    std::shared_ptr<const QByteArray> bytes;
    qint64 position = 0;
};

} // namespace

AudioClipPlayer::AudioClipPlayer(QObject *parent)
    : QObject(parent)
    , player(MpvPlayer::Output::AudioOnly)
{
    if (player.handle())
        protocolAdded = mpv_stream_cb_add_ro(player.handle(), clipProtocol, this, &openStream) >= 0;
    connect(&player, &MpvPlayer::durationChanged, this, [this](double seconds) {
        if (playing && seconds > 0)
            emit durationKnown(qint64(seconds * 1000));
    });
    connect(&player, &MpvPlayer::finished, this, [this] { end(true); });
    connect(&player, &MpvPlayer::loadFailed, this, [this] { end(false); });
}

AudioClipPlayer::~AudioClipPlayer()
{
    player.disconnect(this);
}

void AudioClipPlayer::play(const QByteArray &clip)
{
    if (!protocolAdded) {
        start(QString());
        return;
    }
    auto next = std::make_shared<const Clip>(Clip{++clipCount, clip});
    currentClip.store(next);
    start(QStringLiteral("%1://%2").arg(QLatin1String(clipProtocol)).arg(next->number));
}

void AudioClipPlayer::playFile(const QString &path)
{
    start(path);
}

void AudioClipPlayer::start(const QString &url)
{
    playing = true;
    if (url.isEmpty() || !player.isValid()) {
        // Still asynchronous, like every other ending.
        QMetaObject::invokeMethod(
            this, [this] { end(false); }, Qt::QueuedConnection);
        return;
    }
    player.load(url);
    player.play();
}

void AudioClipPlayer::stop()
{
    playing = false;
    player.stop();
}

void AudioClipPlayer::end(bool successfully)
{
    if (!playing)
        return;
    playing = false;
    emit finished(successfully);
}

// Called on mpv's demuxer thread.
int AudioClipPlayer::openStream(void *clipPlayer, char *uri, mpv_stream_cb_info *info)
{
    const std::shared_ptr<const Clip> clip =
        static_cast<AudioClipPlayer *>(clipPlayer)->currentClip.load();
    const QByteArray prefix = QByteArray(clipProtocol) + "://";
    const QByteArray requested(uri);
    if (!clip || !requested.startsWith(prefix) ||
        requested.mid(prefix.size()).toULongLong() != clip->number)
        return MPV_ERROR_LOADING_FAILED;

    auto *stream = new ClipStream{std::shared_ptr<const QByteArray>(clip, &clip->bytes), 0};
    info->cookie = stream;
    info->read_fn = [](void *cookie, char *buffer, uint64_t size) -> int64_t {
        auto *s = static_cast<ClipStream *>(cookie);
        const qint64 count = std::min<qint64>(qint64(size), s->bytes->size() - s->position);
        if (count <= 0)
            return 0;
        std::memcpy(buffer, s->bytes->constData() + s->position, size_t(count));
        s->position += count;
        return count;
    };
    info->seek_fn = [](void *cookie, int64_t offset) -> int64_t {
        auto *s = static_cast<ClipStream *>(cookie);
        if (offset < 0 || offset > s->bytes->size())
            return MPV_ERROR_GENERIC;
        s->position = offset;
        return offset;
    };
    info->size_fn = [](void *cookie) -> int64_t {
        return static_cast<ClipStream *>(cookie)->bytes->size();
    };
    info->close_fn = [](void *cookie) { delete static_cast<ClipStream *>(cookie); };
    return 0;
}
