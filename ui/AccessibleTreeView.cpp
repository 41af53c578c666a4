#include "ui/AccessibleTreeView.h"

#include <QAccessibleWidget>

namespace {

// The view's interface: Qt's interface for the view with a widget's set-focus action
// and focus states added. Everything else is Qt's unchanged, so assistive tools see
// the same rows, cells and selection; Qt's cells name the view as their parent and
// table, which then is this interface.
class FocusableViewInterface : public QAccessibleWidget {
public:
    explicit FocusableViewInterface(AccessibleTreeView* view) : QAccessibleWidget(view), view_(view) {}

    bool isValid() const override { return QAccessibleWidget::isValid() && QtOwn() && QtOwn()->isValid(); }
    QWindow* window() const override { return QtOwn() ? QtOwn()->window() : QAccessibleWidget::window(); }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override
    {
        return QtOwn() ? QtOwn()->relations(match) : QAccessibleWidget::relations(match);
    }
    QAccessibleInterface* focusChild() const override
    {
        return QtOwn() ? QtOwn()->focusChild() : QAccessibleWidget::focusChild();
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        return QtOwn() ? QtOwn()->childAt(x, y) : QAccessibleWidget::childAt(x, y);
    }
    QAccessibleInterface* parent() const override { return QtOwn() ? QtOwn()->parent() : QAccessibleWidget::parent(); }
    QAccessibleInterface* child(int index) const override
    {
        return QtOwn() ? QtOwn()->child(index) : QAccessibleWidget::child(index);
    }
    int childCount() const override { return QtOwn() ? QtOwn()->childCount() : QAccessibleWidget::childCount(); }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return QtOwn() ? QtOwn()->indexOfChild(child) : QAccessibleWidget::indexOfChild(child);
    }
    QString text(QAccessible::Text t) const override { return QtOwn() ? QtOwn()->text(t) : QAccessibleWidget::text(t); }
    void setText(QAccessible::Text t, const QString& text) override
    {
        if (QtOwn())
            QtOwn()->setText(t, text);
    }
    QRect rect() const override { return QtOwn() ? QtOwn()->rect() : QAccessibleWidget::rect(); }
    QAccessible::Role role() const override { return QtOwn() ? QtOwn()->role() : QAccessibleWidget::role(); }
    QColor foregroundColor() const override
    {
        return QtOwn() ? QtOwn()->foregroundColor() : QAccessibleWidget::foregroundColor();
    }
    QColor backgroundColor() const override
    {
        return QtOwn() ? QtOwn()->backgroundColor() : QAccessibleWidget::backgroundColor();
    }

    // Qt's states, with focusable and focused as the widget has them.
    QAccessible::State state() const override
    {
        const QAccessible::State widget = QAccessibleWidget::state();
        if (!QtOwn())
            return widget;
        QAccessible::State state = QtOwn()->state();
        state.focusable = widget.focusable;
        state.focused = widget.focused;
        state.disabled = state.disabled || widget.disabled;
        state.invisible = state.invisible || widget.invisible;
        return state;
    }

    // The actions are the widget's (set focus); the table and any other interface Qt's.
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return QtOwn() ? QtOwn()->interface_cast(type) : QAccessibleWidget::interface_cast(type);
    }

private:
    QAccessibleInterface* QtOwn() const { return view_->QtInterface(); }

    AccessibleTreeView* view_;
};

// Answers for a finished AccessibleTreeView subclass only. While the object is still an
// AccessibleTreeView (in its constructor) it answers nothing, so that Qt makes its own.
QAccessibleInterface* FocusableViewFactory(const QString& /*class_name*/, QObject* object)
{
    auto* view = qobject_cast<AccessibleTreeView*>(object);
    if (!view || object->metaObject() == &AccessibleTreeView::staticMetaObject || !view->QtInterface())
        return nullptr;
    return new FocusableViewInterface(view);
}

}  // namespace

AccessibleTreeView::AccessibleTreeView(QWidget* parent) : QTreeView(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(FocusableViewFactory);
        return true;
    }();
    (void)installed;
    // Qt's interface can only be had from Qt's factory through this query, and Qt keeps
    // one interface per object and class: asked now, while the object is of this class,
    // the query returns Qt's interface, kept under this class; once the subclass is
    // built, the queries for it reach the factory above, which wraps this one. Qt drops
    // both when the view is destroyed.
    qt_interface_ = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(this));
}

QAccessibleInterface* AccessibleTreeView::QtInterface() const
{
    return qt_interface_ ? QAccessible::accessibleInterface(qt_interface_) : nullptr;
}
