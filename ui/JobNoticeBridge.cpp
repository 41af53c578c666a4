#include "ui/JobNoticeBridge.h"

#include <QMetaObject>

void JobNoticeBridge::OnJobIncomplete(PdfJob* slot)
{
    // Read now: the slot is given back (and may be reused) once this returns.
    const int code = slot->result_code.load();
    const QString key = QString::fromLatin1(slot->key);
    QMetaObject::invokeMethod(this, [this, code, key] { emit JobIncomplete(code, key); }, Qt::QueuedConnection);
}

void JobNoticeBridge::OnJobNote(PdfJob* slot, const std::string& note)
{
    const QString key = QString::fromLatin1(slot->key);
    const QString text = QString::fromStdString(note);
    QMetaObject::invokeMethod(this, [this, key, text] { emit JobNote(key, text); }, Qt::QueuedConnection);
}
