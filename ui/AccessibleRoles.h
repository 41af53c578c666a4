// Accessible roles for plain widgets that stand for something more to the user: the main
// window is a window and the drop area a grouping, where assistive tools would otherwise
// see a filler and a frame.
#pragma once

#include <QAccessible>

class QWidget;

// Gives `widget` (a plain QWidget or QFrame, whose own accessible interface adds nothing
// beyond name and children) the accessible role `role`. Call it where the widget is made.
void SetAccessibleRole(QWidget* widget, QAccessible::Role role);
