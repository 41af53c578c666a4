// The single-instance rule of the desktop program: the lock of the books folder, shared
// with vellumark-batch. When another program holds it the user is told, and this copy
// ends without a window.
#pragma once

#include <string>

class InstanceLock;

// False when another Vellumark program holds the lock of `books_folder` (the user has
// been told). A lock that cannot be taken for another reason is logged and does not
// stop the program.
bool TakeProgramLock(InstanceLock& lock, const std::string& books_folder);
