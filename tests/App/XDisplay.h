#pragma once

// The X server a test runs the app on, driven as a user's hands would: pointer moves and clicks
// and key presses are real input events (XTest), which move the keyboard focus as a person's do.
// It also stands in for the window manager that does not run under xvfb-run (giving a window the
// keyboard focus), and takes pictures of the screen.

#include <QHash>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <gtest/gtest.h>
#include <optional>

using Display = struct _XDisplay;

class XDisplay {
public:
    // Opens the display that DISPLAY names.
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    bool isOpen() const { return display != nullptr; }
    QRect screen() const;

    void moveTo(const QPoint &point);
    // Presses and releases a mouse button (1 left, 2 middle, 3 right) at a point.
    void click(const QPoint &point, int button = 1);

    // Presses a key with modifiers and lets it all go: "Escape", "Ctrl+Q", "Ctrl+Shift+O",
    // "Alt+F4", "Return". The key is an X keysym name ("Page_Down", "F1") or one character;
    // letters are keys, so "Ctrl+Q" is Ctrl and the Q key, with Shift only when it is written.
    testing::AssertionResult pressKeys(const QString &combination);
    // Types text a character at a time, with Shift where the keyboard needs it. A character the
    // keyboard map lacks is put on a spare key first ("é", "ß", "→").
    testing::AssertionResult typeText(const QString &text);

    // Raises the top-level window of a process that covers a point and gives it the keyboard
    // focus; false when the process has no window there.
    bool focusWindowAt(qint64 processId, const QPoint &point);

    // The whole screen; a null image when it cannot be read.
    QImage grab() const;

private:
    struct Key {
        unsigned keycode = 0;
        bool shift = false;
    };
    std::optional<Key> keyFor(unsigned long keysym);
    std::optional<unsigned> spareKeycode() const;
    void sendKey(const Key &key, const QList<unsigned> &modifiers);

    Display *display = nullptr;
    // Keysyms put on spare keys, kept there for the life of the display: unmapping one at once
    // could race the app reading the new map for the key event already on its way.
    QHash<unsigned long, unsigned> remapped;
};
