#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <atomic>
#include <optional>

struct mpv_handle;
struct mpv_event;

// One mpv player on the GUI thread.
//
// Nothing here blocks on mpv: the properties the player needs are observed and their last values
// kept, commands and property writes go out asynchronously, and events are drained on the GUI
// thread whenever mpv wakes us. mpv's own subtitles, OSD, key bindings and configuration files are
// off. A handle that cannot be created, a file that does not load and an end of file with an error
// all arrive as loadFailed(); the process never aborts. Only the latest load reports anything: what
// mpv still says about a file replaced or stopped since is dropped.
class MpvPlayer : public QObject {
    Q_OBJECT
public:
    // mpv property names.
    static constexpr const char *timePosProperty = "time-pos";
    static constexpr const char *durationProperty = "duration";
    static constexpr const char *pauseProperty = "pause";
    static constexpr const char *eofReachedProperty = "eof-reached";
    static constexpr const char *trackListProperty = "track-list";
    static constexpr const char *volumeProperty = "volume";
    static constexpr const char *muteProperty = "mute";
    static constexpr const char *audioIdProperty = "aid";
    static constexpr const char *videoIdProperty = "vid";
    static constexpr const char *frameDropCountProperty = "frame-drop-count";
    static constexpr const char *decoderFrameDropCountProperty = "decoder-frame-drop-count";
    static constexpr const char *delayedFrameCountProperty = "vo-delayed-frame-count";

    enum class Output {
        Video,    // a render view draws the picture
        AudioOnly // no video at all; a missing sound server is a failure
    };
    enum class PlaybackState { Stopped, Playing, Paused };

    struct Track {
        qint64 id = 0;        // mpv's own id, counted per type from 1
        QString type;         // "video", "audio" or "sub"
        int streamIndex = -1; // the container's stream index (ffprobe's "index")
        bool selected = false;
    };

    explicit MpvPlayer(Output output = Output::Video, QObject *parent = nullptr);
    ~MpvPlayer() override;

    // False when mpv could not be started; errorMessage() says why.
    bool isValid() const { return mpv != nullptr; }
    QString errorMessage() const { return startError; }
    mpv_handle *handle() const { return mpv; }
    Output output() const { return outputKind; }

    // A render view reports here whether mpv can draw into it. mpv drops the video of a file
    // loaded while no render context exists, so loads wait until the view is ready.
    void setVideoOutputReady(bool ready);
    // The view could not set up drawing: loads fail with this message.
    void setVideoOutputFailed(const QString &message);
    bool isVideoOutputReady() const { return videoOutputReady; }

    // Replaces the current file (a path or an mpv URL). Starts paused unless play() follows.
    void load(const QString &url);
    // Unloads the current file. The render views show black until the next file has loaded.
    void stop();
    void play();
    void pause();
    PlaybackState playbackState() const;
    bool isLoaded() const { return loaded; }
    bool isAtEnd() const { return eofReached; }
    QString currentFile() const { return file; }

    // Play time and length in seconds, as last reported.
    double currentTime() const { return timePos; }
    double duration() const { return length; }
    // Exact seek. A negative time goes to the start: mpv would count it from the end.
    void seek(qint64 milliseconds);

    // Selects the track whose container stream index is streamIndex; until the file's tracks are
    // known the choice is kept and made when they arrive.
    void selectAudioTrack(int streamIndex);
    void selectVideoTrack(int streamIndex);
    QList<Track> tracks() const { return trackList; }
    // The stream index of the selected track of a type ("audio", "video"), or -1.
    int selectedStreamIndex(const QString &type) const;

    // Output volume, 0 to 1.
    void setVolume(double fraction);
    double volume() const { return volumePercent / 100.0; }
    // Silences the output without touching the volume.
    void setMuted(bool muted);
    bool isMuted() const { return muted; }

    // Observes another property; its changes arrive through propertyChanged().
    void observe(const char *name);

signals:
    void fileLoaded();
    // stop() was called: mpv keeps the last frame for redraws, which must not show any more.
    void stopped();
    void loadFailed(const QString &message);
    // Playback reached the last frame (the file stays open, paused).
    void endReached();
    // The file played to its end and was closed (audio-only players do not keep files open).
    void finished();
    void timeChanged(double seconds);
    void durationChanged(double seconds);
    void playbackStateChanged(MpvPlayer::PlaybackState state);
    void tracksChanged();
    void volumeChanged(double fraction);
    void mutedChanged(bool muted);
    // A seek has finished and the frame at its target is on its way to the view.
    void seekFinished();
    void propertyChanged(const QString &name, const QVariant &value);
    // Emitted by the destructor before the handle goes: render views free their contexts here.
    void aboutToShutDown();

private:
    enum Reply : quint64 {
        TimePosReply = 1,
        DurationReply,
        PauseReply,
        EofReachedReply,
        TrackListReply,
        VolumeReply,
        MuteReply,
        SeekReply,
        CommandReply,
        ExtraPropertyReply,
        // Carries the load's generation in the bits above the low byte.
        LoadReply = 0xff
    };

    void scheduleDrain();
    void drainEvents();
    // A handler may delete this player: the callers check before touching it again.
    void handleEvent(const mpv_event &event);
    void handlePropertyChange(quint64 reply, const mpv_event &event);
    void startLoad(const QString &url);
    // Forgets the current load: whatever mpv still reports of it is no longer ours.
    void abandonLoad();
    bool isCurrentEntry(qint64 entry) const;
    void failLater(const QString &message);
    void applyWantedTracks();
    void selectTrack(const QString &type, int streamIndex);
    void command(const QList<QByteArray> &arguments, quint64 reply = CommandReply);
    void setFlag(const char *name, bool value);
    void emitStateIfChanged();
    void fail(const QString &message);

    mpv_handle *mpv = nullptr;
    Output outputKind;
    QString startError;
    std::atomic<bool> drainPending{false};

    bool videoOutputReady = false;
    std::optional<QString> videoOutputError;
    std::optional<QString> pendingLoad;

    QString file;
    // Counts loads and stops, so that an answer to an abandoned load is told apart.
    quint64 loadGeneration = 0;
    // The playlist entry mpv made of the latest load, once it has answered (-1 when it did not
    // say which). Events of other entries come from files given up since.
    std::optional<qint64> currentEntry;
    bool playingCurrentEntry = false;
    bool loaded = false;
    bool paused = true;
    bool eofReached = false;
    // Between a seek (or a load) and mpv's playback restart the reported times are stale.
    bool seeking = false;
    double timePos = 0;
    double emittedTimePos = -1;
    double length = 0;
    double volumePercent = 100;
    bool muted = false;
    PlaybackState lastState = PlaybackState::Stopped;
    QString lastError;
    // A file that failed; reported once the drain has also read mpv's log.
    std::optional<QString> failure;
    QList<Track> trackList;
    std::optional<int> wantedAudioStream;
    std::optional<int> wantedVideoStream;
    QList<QByteArray> extraProperties;
};
