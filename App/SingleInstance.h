#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// One running app per desktop session. The first process takes a well-known name on the session
// bus and answers Open there; a later one hands its files over to it and ends, so that opening a
// file from the file manager lands in the window the user already has. Without a session bus every
// process runs on its own.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kelvorandix.Kelvorandix")
public:
    static inline const QString serviceName = QStringLiteral("org.kelvorandix.Kelvorandix");
    static inline const QString objectPath = QStringLiteral("/org/kelvorandix/Kelvorandix");

    enum class Role {
        // No session bus: nobody to hand over to, nobody to answer.
        Alone,
        // This process holds the name and answers Open.
        Running,
        // Another process holds the name.
        Another,
    };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the name on the session bus unless another process holds it.
    Role claim();
    Role role() const { return current; }
    // Hands absolute paths to the running instance, and a time to show the video at (0 for its
    // start); false when it could not be reached or did not answer in time.
    bool handOver(const QStringList &paths, qint64 at = 0);

public slots:
    // Opens each file (an absolute path; others are passed over) as if the desktop had handed it
    // over, and brings the window forward, which is all it does for an empty list. Answers at
    // once: the files are opened once the call is over, so that the caller never waits for a video
    // to be probed.
    Q_SCRIPTABLE void Open(const QStringList &paths);
    // The same, then shows the video opened at a time in milliseconds.
    Q_SCRIPTABLE void OpenAt(const QStringList &paths, qlonglong at);

signals:
    void openRequested(const QStringList &paths, qint64 at);
    void activateRequested();

private:
    Role current = Role::Alone;
};
