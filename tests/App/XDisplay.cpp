#include "XDisplay.h"

#include <QStringList>
#include <QThread>

// Xlib's macros (None, Bool, Status, KeyPress) collide with Qt's names: its headers come last.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// Xlib's default error handler ends the process; a window that closes between a query and a
// request made on it must only make that request fail.
int lastXError = 0;
int recordXError(Display *, XErrorEvent *event)
{
    lastXError = event->error_code;
    return 0;
}

// A keysym for one character: Latin-1 keysyms are the code points, the rest are offset.
KeySym keysymOf(char32_t character)
{
    if (character == U'\n' || character == U'\r')
        return XK_Return;
    if (character == U'\t')
        return XK_Tab;
    if ((character >= 0x20 && character < 0x7f) || (character >= 0xa0 && character <= 0xff))
        return character;
    return 0x01000000 + character;
}

KeySym modifierKeysym(const QString &name)
{
    const QString lower = name.toLower();
    if (lower == QLatin1String("ctrl") || lower == QLatin1String("control"))
        return XK_Control_L;
    if (lower == QLatin1String("shift"))
        return XK_Shift_L;
    if (lower == QLatin1String("alt"))
        return XK_Alt_L;
    if (lower == QLatin1String("super") || lower == QLatin1String("meta"))
        return XK_Super_L;
    return NoSymbol;
}

KeySym namedKeysym(const QString &name)
{
    const QList<uint> characters = name.toUcs4();
    if (characters.size() == 1) {
        // A letter names its key: Shift is a modifier of its own in a combination.
        const char32_t character = characters.first();
        if (character < 0x80)
            return keysymOf(QChar::toLower(character));
        return keysymOf(character);
    }
    if (name.compare(QLatin1String("Enter"), Qt::CaseInsensitive) == 0)
        return XK_Return;
    if (name.compare(QLatin1String("Esc"), Qt::CaseInsensitive) == 0)
        return XK_Escape;
    return XStringToKeysym(name.toLatin1().constData());
}

} // namespace

XDisplay::XDisplay()
{
    display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XSetErrorHandler(recordXError);
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        display = nullptr;
    }
}

XDisplay::~XDisplay()
{
    if (display)
        XCloseDisplay(display);
}

QRect XDisplay::screen() const
{
    if (!display)
        return QRect();
    const int number = DefaultScreen(display);
    return QRect(0, 0, DisplayWidth(display, number), DisplayHeight(display, number));
}

void XDisplay::moveTo(const QPoint &point)
{
    if (!display)
        return;
    XTestFakeMotionEvent(display, -1, point.x(), point.y(), CurrentTime);
    XSync(display, False);
}

void XDisplay::click(const QPoint &point, int button)
{
    if (!display)
        return;
    moveTo(point);
    // A pause between the events, as a hand makes, keeps them apart in time: a toolkit that
    // tells double clicks or auto-repeat by time sees one deliberate click.
    QThread::msleep(30);
    XTestFakeButtonEvent(display, unsigned(button), True, CurrentTime);
    XSync(display, False);
    QThread::msleep(30);
    XTestFakeButtonEvent(display, unsigned(button), False, CurrentTime);
    XSync(display, False);
}

testing::AssertionResult XDisplay::pressKeys(const QString &combination)
{
    if (!display)
        return testing::AssertionFailure() << "no X display";
    QStringList parts = combination.split(u'+');
    // "Ctrl++" presses the plus key.
    if (combination.endsWith(QLatin1String("++"))) {
        parts.removeLast();
        parts.last() = QStringLiteral("+");
    }
    if (parts.isEmpty() || parts.last().isEmpty())
        return testing::AssertionFailure() << "no key in \"" << combination.toStdString() << "\"";
    QList<unsigned> modifiers;
    for (const QString &part : parts.mid(0, parts.size() - 1)) {
        const KeySym modifier = modifierKeysym(part);
        const std::optional<Key> key = modifier == NoSymbol ? std::nullopt : keyFor(modifier);
        if (!key)
            return testing::AssertionFailure()
                   << "\"" << part.toStdString() << "\" in \"" << combination.toStdString()
                   << "\" is not Ctrl, Shift, Alt or Super";
        modifiers.append(key->keycode);
    }
    const KeySym keysym = namedKeysym(parts.last());
    const std::optional<Key> key = keysym == NoSymbol ? std::nullopt : keyFor(keysym);
    if (!key)
        return testing::AssertionFailure()
               << "no key \"" << parts.last().toStdString() << "\" on this keyboard";
    sendKey(*key, modifiers);
    return testing::AssertionSuccess();
}

testing::AssertionResult XDisplay::typeText(const QString &text)
{
    if (!display)
        return testing::AssertionFailure() << "no X display";
    for (const char32_t character : text.toUcs4()) {
        const std::optional<Key> key = keyFor(keysymOf(character));
        if (!key)
            return testing::AssertionFailure()
                   << "no key for \"" << QString::fromUcs4(&character, 1).toStdString()
                   << "\" and no spare key to put it on";
        sendKey(*key, {});
    }
    return testing::AssertionSuccess();
}

std::optional<XDisplay::Key> XDisplay::keyFor(unsigned long keysym)
{
    if (const auto found = remapped.constFind(keysym); found != remapped.constEnd())
        return Key{found.value(), false};
    const KeyCode keycode = XKeysymToKeycode(display, keysym);
    if (keycode != 0) {
        if (XkbKeycodeToKeysym(display, keycode, 0, 0) == keysym)
            return Key{keycode, false};
        if (XkbKeycodeToKeysym(display, keycode, 0, 1) == keysym)
            return Key{keycode, true};
    }
    // Not on the keyboard (or only behind AltGr): put it on a key of its own.
    const std::optional<unsigned> spare = spareKeycode();
    if (!spare)
        return std::nullopt;
    KeySym both[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, int(*spare), 2, both, 1);
    XSync(display, False);
    remapped.insert(keysym, *spare);
    return Key{*spare, false};
}

std::optional<unsigned> XDisplay::spareKeycode() const
{
    int first = 0, last = 0;
    XDisplayKeycodes(display, &first, &last);
    int perKeycode = 0;
    KeySym *map = XGetKeyboardMapping(display, KeyCode(first), last - first + 1, &perKeycode);
    if (!map)
        return std::nullopt;
    std::optional<unsigned> spare;
    // From the top: the low keycodes are the ones real keyboards use.
    for (int keycode = last; keycode >= first && !spare; --keycode) {
        bool empty = true;
        for (int level = 0; level < perKeycode && empty; ++level)
            empty = map[(keycode - first) * perKeycode + level] == NoSymbol;
        if (empty && !remapped.values().contains(unsigned(keycode)))
            spare = unsigned(keycode);
    }
    XFree(map);
    return spare;
}

void XDisplay::sendKey(const Key &key, const QList<unsigned> &modifiers)
{
    QList<unsigned> held = modifiers;
    if (key.shift) {
        const unsigned shift = XKeysymToKeycode(display, XK_Shift_L);
        if (!held.contains(shift))
            held.append(shift);
    }
    for (const unsigned modifier : held)
        XTestFakeKeyEvent(display, modifier, True, CurrentTime);
    XTestFakeKeyEvent(display, key.keycode, True, CurrentTime);
    XSync(display, False);
    // A release and the next press at the same server time read as auto-repeat.
    QThread::msleep(5);
    XTestFakeKeyEvent(display, key.keycode, False, CurrentTime);
    for (auto modifier = held.crbegin(); modifier != held.crend(); ++modifier)
        XTestFakeKeyEvent(display, *modifier, False, CurrentTime);
    XSync(display, False);
    QThread::msleep(5);
}

bool XDisplay::focusWindowAt(qint64 processId, const QPoint &point)
{
    if (!display)
        return false;
    const Window root = DefaultRootWindow(display);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    Window rootReturn, parent;
    Window *children = nullptr;
    unsigned count = 0;
    if (pidAtom == None || !XQueryTree(display, root, &rootReturn, &parent, &children, &count))
        return false;
    bool focused = false;
    // With no window manager, top-level windows are the root's own children, topmost last.
    for (unsigned i = count; i-- > 0 && !focused;) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) ||
            attributes.map_state != IsViewable ||
            !QRect(attributes.x, attributes.y, attributes.width, attributes.height).contains(point))
            continue;
        Atom type;
        int format;
        unsigned long items, remaining;
        unsigned char *value = nullptr;
        if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                               &format, &items, &remaining, &value) == Success &&
            value && items == 1 && format == 32 &&
            qint64(*reinterpret_cast<unsigned long *>(value)) == processId) {
            lastXError = 0;
            XRaiseWindow(display, children[i]);
            XSetInputFocus(display, children[i], RevertToPointerRoot, CurrentTime);
            XSync(display, False);
            focused = lastXError == 0;
        }
        if (value)
            XFree(value);
    }
    if (children)
        XFree(children);
    return focused;
}

QImage XDisplay::grab() const
{
    if (!display)
        return QImage();
    const QRect area = screen();
    XImage *image = XGetImage(display, DefaultRootWindow(display), 0, 0, unsigned(area.width()),
                              unsigned(area.height()), AllPlanes, ZPixmap);
    if (!image)
        return QImage();
    QImage picture(area.size(), QImage::Format_RGB32);
    const bool direct = image->bits_per_pixel == 32 && image->red_mask == 0xff0000 &&
                        image->green_mask == 0xff00 && image->blue_mask == 0xff;
    for (int y = 0; y < area.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        if (direct) {
            const auto *pixels = reinterpret_cast<const quint32 *>(
                image->data + qsizetype(y) * image->bytes_per_line);
            // The X server leaves the top byte undefined; Qt wants it opaque.
            for (int x = 0; x < area.width(); ++x)
                line[x] = 0xff000000u | pixels[x];
            continue;
        }
        // Any other visual, read a pixel at a time through its masks.
        for (int x = 0; x < area.width(); ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const auto channel = [pixel](unsigned long mask) {
                if (mask == 0)
                    return 0;
                const int shift = __builtin_ctzl(mask);
                return int(((pixel & mask) >> shift) * 255 / (mask >> shift));
            };
            line[x] = qRgb(channel(image->red_mask), channel(image->green_mask),
                           channel(image->blue_mask));
        }
    }
    XDestroyImage(image);
    return picture;
}
