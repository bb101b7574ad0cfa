#include "AtspiElement.h"

#include <atspi/atspi.h>
#include <memory>

namespace {

// Owners for what libatspi hands over: strings to g_free, objects to g_object_unref.
struct GFree {
    void operator()(void *memory) const { g_free(memory); }
};
using GString = std::unique_ptr<gchar, GFree>;

struct GUnref {
    void operator()(void *object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GRef = std::unique_ptr<T, GUnref>;

QString take(gchar *text)
{
    const GString owned(text);
    return owned ? QString::fromUtf8(owned.get()) : QString();
}

// A failed call reads as empty; the error itself only matters for actions.
QString takeError(GError *&error)
{
    if (!error)
        return QString();
    const QString message = QString::fromUtf8(error->message);
    g_clear_error(&error);
    return message;
}

QString stateName(AtspiStateType state)
{
    GEnumClass *states = static_cast<GEnumClass *>(g_type_class_ref(atspi_state_type_get_type()));
    const GEnumValue *value = g_enum_get_value(states, state);
    const QString name = value ? QString::fromUtf8(value->value_nick) : QString::number(state);
    g_type_class_unref(states);
    return name;
}

GRef<AtspiStateSet> stateSet(AtspiAccessible *accessible)
{
    return GRef<AtspiStateSet>(atspi_accessible_get_state_set(accessible));
}

bool contains(const GRef<AtspiStateSet> &states, AtspiStateType state)
{
    return states && atspi_state_set_contains(states.get(), state);
}

// Containers without a name of their own say nothing in a listing of what is on screen.
bool isAnonymousContainer(const QString &role, const QString &name)
{
    static const QStringList containers = {
        QStringLiteral("filler"),       QStringLiteral("panel"),
        QStringLiteral("unknown"),      QStringLiteral("split pane"),
        QStringLiteral("layered pane"), QStringLiteral("scroll pane"),
        QStringLiteral("viewport"),     QStringLiteral("redundant object")};
    return name.isEmpty() && containers.contains(role);
}

bool isItemRole(const QString &role)
{
    return role == QLatin1String("list item") || role == QLatin1String("menu item") ||
           role == QLatin1String("check menu item") || role == QLatin1String("radio menu item") ||
           role == QLatin1String("menu");
}

} // namespace

AtspiElement AtspiElement::adopt(AtspiAccessible *accessible)
{
    return AtspiElement(accessible);
}

AtspiElement::AtspiElement(const AtspiElement &other)
    : accessible(other.accessible ? static_cast<AtspiAccessible *>(g_object_ref(other.accessible))
                                  : nullptr)
{}

AtspiElement &AtspiElement::operator=(const AtspiElement &other)
{
    if (this != &other)
        *this = AtspiElement(other);
    return *this;
}

AtspiElement::AtspiElement(AtspiElement &&other) noexcept
    : accessible(std::exchange(other.accessible, nullptr))
{}

AtspiElement &AtspiElement::operator=(AtspiElement &&other) noexcept
{
    if (this != &other) {
        if (accessible)
            g_object_unref(accessible);
        accessible = std::exchange(other.accessible, nullptr);
    }
    return *this;
}

AtspiElement::~AtspiElement()
{
    if (accessible)
        g_object_unref(accessible);
}

QString AtspiElement::name() const
{
    if (!accessible)
        return QString();
    GError *error = nullptr;
    const QString name = take(atspi_accessible_get_name(accessible, &error));
    takeError(error);
    return name;
}

QString AtspiElement::role() const
{
    if (!accessible)
        return QString();
    GError *error = nullptr;
    const QString role = take(atspi_accessible_get_role_name(accessible, &error));
    takeError(error);
    return role;
}

QString AtspiElement::description() const
{
    if (!accessible)
        return QString();
    GError *error = nullptr;
    const QString description = take(atspi_accessible_get_description(accessible, &error));
    takeError(error);
    return description;
}

QStringList AtspiElement::labels() const
{
    QStringList names;
    if (!accessible)
        return names;
    GError *error = nullptr;
    GArray *relations = atspi_accessible_get_relation_set(accessible, &error);
    takeError(error);
    if (!relations)
        return names;
    for (guint i = 0; i < relations->len; ++i) {
        AtspiRelation *relation = g_array_index(relations, AtspiRelation *, i);
        if (atspi_relation_get_relation_type(relation) == ATSPI_RELATION_LABELLED_BY) {
            for (gint t = 0; t < atspi_relation_get_n_targets(relation); ++t)
                names.append(adopt(atspi_relation_get_target(relation, t)).name());
        }
        g_object_unref(relation);
    }
    g_array_free(relations, TRUE);
    return names;
}

QString AtspiElement::text() const
{
    if (!accessible)
        return QString();
    const GRef<AtspiText> text(atspi_accessible_get_text_iface(accessible));
    if (!text)
        return name();
    GError *error = nullptr;
    const gint count = atspi_text_get_character_count(text.get(), &error);
    if (!takeError(error).isEmpty())
        return name();
    const QString content = take(atspi_text_get_text(text.get(), 0, count, &error));
    takeError(error);
    return content;
}

qint64 AtspiElement::processId() const
{
    if (!accessible)
        return -1;
    GError *error = nullptr;
    const guint pid = atspi_accessible_get_process_id(accessible, &error);
    return takeError(error).isEmpty() ? qint64(pid) : -1;
}

QStringList AtspiElement::states() const
{
    QStringList names;
    if (!accessible)
        return names;
    const GRef<AtspiStateSet> set = stateSet(accessible);
    if (!set)
        return names;
    GArray *states = atspi_state_set_get_states(set.get());
    for (guint i = 0; states && i < states->len; ++i)
        names.append(stateName(g_array_index(states, AtspiStateType, i)));
    if (states)
        g_array_free(states, TRUE);
    return names;
}

bool AtspiElement::hasState(const QString &state) const
{
    return states().contains(state);
}

bool AtspiElement::isEnabled() const
{
    return accessible && contains(stateSet(accessible), ATSPI_STATE_ENABLED);
}

bool AtspiElement::isFocused() const
{
    return accessible && contains(stateSet(accessible), ATSPI_STATE_FOCUSED);
}

bool AtspiElement::isShowing() const
{
    return accessible && contains(stateSet(accessible), ATSPI_STATE_SHOWING);
}

bool AtspiElement::isChecked() const
{
    return accessible && contains(stateSet(accessible), ATSPI_STATE_CHECKED);
}

bool AtspiElement::isSelected() const
{
    return accessible && contains(stateSet(accessible), ATSPI_STATE_SELECTED);
}

QRect AtspiElement::extents() const
{
    if (!accessible)
        return QRect();
    const GRef<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
    if (!component)
        return QRect();
    GError *error = nullptr;
    AtspiRect *rect = atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &error);
    takeError(error);
    if (!rect)
        return QRect();
    const QRect extents(rect->x, rect->y, rect->width, rect->height);
    g_free(rect);
    return extents;
}

AtspiElement AtspiElement::parent() const
{
    if (!accessible)
        return AtspiElement();
    GError *error = nullptr;
    AtspiAccessible *parent = atspi_accessible_get_parent(accessible, &error);
    takeError(error);
    return adopt(parent);
}

QList<AtspiElement> AtspiElement::children() const
{
    QList<AtspiElement> children;
    if (!accessible)
        return children;
    GError *error = nullptr;
    const gint count = atspi_accessible_get_child_count(accessible, &error);
    if (!takeError(error).isEmpty())
        return children;
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible *child = atspi_accessible_get_child_at_index(accessible, i, &error);
        takeError(error);
        if (child)
            children.append(adopt(child));
    }
    return children;
}

QStringList AtspiElement::itemNames() const
{
    QStringList names;
    for (const AtspiElement &child : children()) {
        if (isItemRole(child.role())) {
            names.append(child.name());
            continue;
        }
        // The list of a combo box, the popup menu of a menu bar's item.
        for (const AtspiElement &grandchild : child.children())
            if (isItemRole(grandchild.role()))
                names.append(grandchild.name());
    }
    return names;
}

bool AtspiElement::matches(const QString &wantedRole, const QString &wantedName) const
{
    if (!accessible || (!wantedRole.isEmpty() && role() != wantedRole))
        return false;
    return wantedName.isEmpty() || name() == wantedName || labels().contains(wantedName);
}

QList<AtspiElement> AtspiElement::findAll(const QString &role, const QString &name,
                                          Scope scope) const
{
    QList<AtspiElement> found;
    collect(role, name, scope, found);
    return found;
}

AtspiElement AtspiElement::find(const QString &role, const QString &name, Scope scope) const
{
    const QList<AtspiElement> found = findAll(role, name, scope);
    return found.isEmpty() ? AtspiElement() : found.first();
}

void AtspiElement::collect(const QString &role, const QString &name, Scope scope,
                           QList<AtspiElement> &found) const
{
    for (const AtspiElement &child : children()) {
        // Qt reports the items of a closed drop-down list as showing; their list is not, so the
        // walk stops there.
        if (scope == Scope::Showing && !contains(stateSet(child.accessible), ATSPI_STATE_SHOWING))
            continue;
        if (child.matches(role, name))
            found.append(child);
        child.collect(role, name, scope, found);
    }
}

QStringList AtspiElement::actions() const
{
    QStringList names;
    if (!accessible)
        return names;
    const GRef<AtspiAction> action(atspi_accessible_get_action_iface(accessible));
    if (!action)
        return names;
    GError *error = nullptr;
    const gint count = atspi_action_get_n_actions(action.get(), &error);
    takeError(error);
    for (gint i = 0; i < count; ++i) {
        names.append(take(atspi_action_get_action_name(action.get(), i, &error)));
        takeError(error);
    }
    return names;
}

testing::AssertionResult AtspiElement::doAction(const QString &wanted) const
{
    if (!accessible)
        return testing::AssertionFailure() << "no element to " << wanted.toStdString();
    const QStringList available = actions();
    const qsizetype index = available.indexOf(wanted);
    if (index < 0)
        return testing::AssertionFailure()
               << describe().toStdString() << " has no action \"" << wanted.toStdString()
               << "\"; it has: " << available.join(QStringLiteral(", ")).toStdString();
    const GRef<AtspiAction> action(atspi_accessible_get_action_iface(accessible));
    GError *error = nullptr;
    const bool done = action && atspi_action_do_action(action.get(), gint(index), &error);
    const QString problem = takeError(error);
    if (!done)
        return testing::AssertionFailure()
               << "\"" << wanted.toStdString() << "\" on " << describe().toStdString() << " failed "
               << problem.toStdString();
    return testing::AssertionSuccess();
}

QString AtspiElement::describe() const
{
    if (!accessible)
        return QStringLiteral("(nothing)");
    QString line = QStringLiteral("%1 \"%2\"").arg(role(), name());
    const QStringList labelNames = labels();
    if (!labelNames.isEmpty())
        line += QStringLiteral(" labelled \"%1\"").arg(labelNames.join(QStringLiteral("\", \"")));
    // The states that tell elements apart on screen; "disabled" stands out where it applies.
    static const QStringList telling = {QStringLiteral("active"),   QStringLiteral("focused"),
                                        QStringLiteral("checked"),  QStringLiteral("selected"),
                                        QStringLiteral("pressed"),  QStringLiteral("expanded"),
                                        QStringLiteral("editable"), QStringLiteral("modal")};
    const QStringList all = states();
    QStringList shown;
    if (!all.contains(QLatin1String("enabled")))
        shown.append(QStringLiteral("disabled"));
    for (const QString &state : telling)
        if (all.contains(state))
            shown.append(state);
    if (!shown.isEmpty())
        line += QStringLiteral(" [%1]").arg(shown.join(QStringLiteral(", ")));
    return line;
}

QString AtspiElement::showingTree(int maxLines) const
{
    QStringList lines;
    if (accessible)
        lines.append(describe());
    printTree(lines, 1, maxLines);
    if (lines.size() >= maxLines)
        lines.append(QStringLiteral("..."));
    return lines.join(u'\n');
}

void AtspiElement::printTree(QStringList &lines, int depth, int maxLines) const
{
    for (const AtspiElement &child : children()) {
        if (lines.size() >= maxLines)
            return;
        if (!contains(stateSet(child.accessible), ATSPI_STATE_SHOWING))
            continue;
        int childDepth = depth;
        if (!isAnonymousContainer(child.role(), child.name())) {
            lines.append(QString(depth * 2, u' ') + child.describe());
            ++childDepth;
        }
        child.printTree(lines, childDepth, maxLines);
    }
}
