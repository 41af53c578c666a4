// The OK and Cancel row that every settings dialog ends with, with the localised
// placeholder texts and the object names the tests find the buttons by.
#pragma once

class QDialog;
class QDialogButtonBox;

// Makes the row (OK is the default button) and connects it to accept and reject.
QDialogButtonBox* MakeOkCancelButtons(QDialog* dialog);
