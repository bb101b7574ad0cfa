#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

class AppDelegate;

// What a test sees of the running app from another process, over the session bus: the item counts
// of the track choosers and whether an output chain runs, and a click on a button named by its
// accessible name, as a user (or a screen reader) would give it. The single-instance test needs a
// real second launch against a real first one, so it cannot reach into the window from inside;
// this is registered only when KELVORANDIX_TEST_PROBE is set, and reads nothing a user could not
// see.
class InstanceProbe : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kelvorandix.Kelvorandix.TestProbe")
public:
    static inline const char *const enableVariable = "KELVORANDIX_TEST_PROBE";
    static inline const QString objectPath =
        QStringLiteral("/org/kelvorandix/Kelvorandix/TestProbe");
    static inline const QString interfaceName =
        QStringLiteral("org.kelvorandix.Kelvorandix.TestProbe");

    explicit InstanceProbe(AppDelegate &delegate, QObject *parent = nullptr);
    ~InstanceProbe() override;

    // Registers the probe on the session bus when the environment asks for it.
    bool registerIfAsked();

public slots:
    // "videoTracks", "audioTracks", "subtitlesTracks": the choosers' item counts; "busy";
    // "playTime": where the player is, in milliseconds.
    Q_SCRIPTABLE QVariantMap State() const;
    // Clicks the visible, enabled button with this accessible name once the call is answered;
    // false when there is none.
    Q_SCRIPTABLE bool Press(const QString &accessibleName);

private:
    AppDelegate &delegate;
    bool registered = false;
};
