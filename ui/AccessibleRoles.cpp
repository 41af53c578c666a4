#include "ui/AccessibleRoles.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace {

const char* const kRoleProperty = "vmAccessibleRole";

// Tried before Qt's own factory for every object: answers only for widgets that were
// given a role, so every other widget keeps its usual interface.
QAccessibleInterface* RoleFactory(const QString& /*class_name*/, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), static_cast<QAccessible::Role>(role.toInt()));
}

}  // namespace

void SetAccessibleRole(QWidget* widget, QAccessible::Role role)
{
    static const bool installed = [] {
        QAccessible::installFactory(RoleFactory);
        return true;
    }();
    (void)installed;
    widget->setProperty(kRoleProperty, static_cast<int>(role));
    // An interface made before the role was set (while the widget was being built) would
    // keep the old role: it is dropped, and the next query makes one with the role.
    QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(widget);
    if (existing && existing->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
}
