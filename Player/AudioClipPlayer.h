#pragma once

#include "MpvPlayer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

struct mpv_stream_cb_info;

// Plays short audio clips (an item's audio held in memory, or a file) on an mpv player of its own
// with no video. Every play ends in finished(): true when the clip played to its end, false when
// it could not be played, for instance with no sound server to play it on. stop() ends a clip
// without finished().
class AudioClipPlayer : public QObject {
    Q_OBJECT
public:
    explicit AudioClipPlayer(QObject *parent = nullptr);
    ~AudioClipPlayer() override;

    // The bytes of a whole audio file in any format ffmpeg reads.
    void play(const QByteArray &clip);
    void playFile(const QString &path);
    void stop();
    bool isPlaying() const { return playing; }
    // Of the clip playing or last played, in milliseconds; 0 until it is known.
    qint64 duration() const { return qint64(player.duration() * 1000); }

signals:
    void durationKnown(qint64 milliseconds);
    void finished(bool successfully);

private:
    struct Clip {
        quint64 number;
        QByteArray bytes;
    };

    void start(const QString &url);
    void end(bool successfully);
    static int openStream(void *clipPlayer, char *uri, mpv_stream_cb_info *info);

    // mpv reads it on its own thread while the GUI thread may replace it: handed over whole.
    std::atomic<std::shared_ptr<const Clip>> currentClip;
    quint64 clipCount = 0;
    bool playing = false;
    bool protocolAdded = false;
    // Last, so that mpv is shut down (and reads no clip) before the clip goes.
    MpvPlayer player;
};
