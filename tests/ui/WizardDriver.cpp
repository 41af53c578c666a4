#include "tests/ui/WizardDriver.h"

#include "ui/CMainDlg.h"
#include "ui/wizard/WizardPageKit.h"

#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

WizardDriver::WizardDriver(CMainDlg& window) : tabs_(window.ModeTabs()) {}

QPushButton* WizardDriver::Button(const char* name) const
{
    return Page() ? Page()->findChild<QPushButton*>(QLatin1String(name)) : nullptr;
}

QLineEdit* WizardDriver::Edit(const char* name) const
{
    return Page() ? Page()->findChild<QLineEdit*>(QLatin1String(name)) : nullptr;
}

bool WizardDriver::Click(const char* name)
{
    QPushButton* button = Button(name);
    if (!button || !button->isVisible() || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

void WizardDriver::Drop(const QList<std::filesystem::path>& paths)
{
    QWidget* page = tabs_->WizardPageAt(kStepChoosePdf);
    QMimeData data;
    QList<QUrl> urls;
    for (const std::filesystem::path& path : paths)
        urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
    data.setUrls(urls);
    const QPointF at(page->width() / 2.0, page->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(page, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(page, &drop);
}

bool WizardDriver::ToPublishMethod(const std::filesystem::path& pdf)
{
    if (Step() != kStepChoosePdf)
        return false;
    Drop({pdf});
    for (int step : {kStepChoosePdf, kStepImageQuality, kStepMetadata}) {
        if (Step() != step || !Click("nextButton"))
            return false;
    }
    return Step() == kStepPublishMethod;
}

bool WizardDriver::ToConvertWithFolder(const QString& folder)
{
    if (Step() != kStepPublishMethod || !Click("localButton"))
        return false;
    Edit("folderEdit")->setText(folder);
    return Click("nextButton") && Step() == kStepConvert;
}

bool WizardDriver::WaitForStep(int step, int timeout_ms)
{
    return QTest::qWaitFor([&] { return Step() == step; }, timeout_ms);
}
