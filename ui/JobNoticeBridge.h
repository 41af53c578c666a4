// Receives the ends and notes of jobs on the workers' threads and hands them to the
// user-interface thread as queued signals: no widget is ever touched from a worker.
#pragma once

#include "pipeline/PdfJob.h"

#include <QObject>
#include <QString>

class JobNoticeBridge : public QObject, public JobObserver {
    Q_OBJECT

public:
    explicit JobNoticeBridge(QObject* parent = nullptr) : QObject(parent) {}

    void OnJobIncomplete(PdfJob* slot) override;
    void OnJobNote(PdfJob* slot, const std::string& text) override;

signals:
    // A job ended early with that result code (emitted on the bridge's thread).
    void JobIncomplete(int result_code, const QString& key);
    // A note about a job for the user.
    void JobNote(const QString& key, const QString& text);
};
