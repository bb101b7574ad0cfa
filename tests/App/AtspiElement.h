#pragma once

// One accessible object of a running application, as the accessibility bus (AT-SPI) shows it to a
// screen reader: a push button, a menu item, a window. A null element stands for "not found".
//
// Every read is a call to the application over the bus and reads the state of that moment; a
// failed call (the object has gone, the application has ended) reads as empty, never throws.

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

using AtspiAccessible = struct _AtspiAccessible;

class AtspiElement {
public:
    // Which descendants a search walks: those on screen only (the element and all its
    // ancestors showing; hidden menus and closed drop-down lists are left out), or all.
    enum class Scope { Showing, All };

    AtspiElement() = default;
    // Takes over a reference the caller holds (libatspi's "transfer full").
    static AtspiElement adopt(AtspiAccessible *accessible);
    AtspiElement(const AtspiElement &other);
    AtspiElement &operator=(const AtspiElement &other);
    AtspiElement(AtspiElement &&other) noexcept;
    AtspiElement &operator=(AtspiElement &&other) noexcept;
    ~AtspiElement();

    bool isNull() const { return accessible == nullptr; }
    explicit operator bool() const { return accessible != nullptr; }
    AtspiAccessible *handle() const { return accessible; }

    QString name() const;
    // The role's name as AT-SPI spells it: "push button", "menu item", "combo box", "frame".
    QString role() const;
    QString description() const;
    // Names of the labels that label this element. Qt names a combo box by its current item, so
    // a chooser is known by the label before it ("Audio:").
    QStringList labels() const;
    // What a text field or a label holds (its text), or else its name.
    QString text() const;
    qint64 processId() const;

    // State names as AT-SPI spells them ("enabled", "focused", "showing", "checked").
    QStringList states() const;
    bool hasState(const QString &state) const;
    bool isEnabled() const;
    bool isFocused() const;
    bool isShowing() const;
    bool isChecked() const;
    bool isSelected() const;

    // Where it is on the screen; an empty rectangle when it has no place there.
    QRect extents() const;

    AtspiElement parent() const;
    QList<AtspiElement> children() const;
    // The entries of a combo box, a menu, or a menu bar's item: names of the list items and menu
    // items below it (separators left out), whether or not the list is open.
    QStringList itemNames() const;

    // Descendants with this role and name. An empty role or name matches any; a name matches the
    // element's own name or the name of a label that labels it.
    QList<AtspiElement> findAll(const QString &role, const QString &name,
                                Scope scope = Scope::Showing) const;
    AtspiElement find(const QString &role, const QString &name, Scope scope = Scope::Showing) const;
    bool matches(const QString &role, const QString &name) const;

    QStringList actions() const;
    // Runs a named action ("Press", "Toggle", "SetFocus") without input events: no pointer
    // moves, and the keyboard focus stays where it was.
    testing::AssertionResult doAction(const QString &action) const;

    // One line for messages: role "name" (labels) [states].
    QString describe() const;
    // The showing subtree, one element a line, indented; unnamed containers are folded away.
    QString showingTree(int maxLines = 400) const;

private:
    explicit AtspiElement(AtspiAccessible *accessible)
        : accessible(accessible)
    {}
    void collect(const QString &role, const QString &name, Scope scope,
                 QList<AtspiElement> &found) const;
    void printTree(QStringList &lines, int depth, int maxLines) const;

    AtspiAccessible *accessible = nullptr;
};
