// A tree view that an assistive tool can move the keyboard focus into. Qt's own
// accessible interface for item views gives rows, cells, selection and the table
// interface but no set-focus action and no focus states, so a switch-access or voice
// user could select a row yet never reach the list to use its keys. The interface
// made here keeps all of Qt's and adds those.
#pragma once

#include <QAccessible>
#include <QTreeView>

class AccessibleTreeView : public QTreeView {
    Q_OBJECT

public:
    // The interface Qt made for this view; every question but focus goes to it. Null
    // once it is gone (the view is being destroyed).
    QAccessibleInterface* QtInterface() const;

protected:
    // Only a subclass may be made: the constructor asks Qt for its interface while the
    // object is still of this class, and only a later class lets the view's own
    // interface be a different one (see the .cpp).
    explicit AccessibleTreeView(QWidget* parent);

private:
    QAccessible::Id qt_interface_ = 0;
};
