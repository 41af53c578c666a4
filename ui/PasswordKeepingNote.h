// The line under a password field that says where the password is kept: in the
// desktop's secret store, or (with none running) enciphered in the settings file with a
// key built into the program, which anyone with the file and the program can undo.
#pragma once

class QLabel;
class QWidget;

QLabel* MakePasswordKeepingNote(QWidget* parent);
