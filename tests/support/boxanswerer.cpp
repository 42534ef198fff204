#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTextDocument>

namespace {
constexpr int kPollMs = 10;
}

BoxAnswerer::BoxAnswerer()
{
    connect(&poll, &QTimer::timeout, this, &BoxAnswerer::answer);
    poll.start(kPollMs);
}

void BoxAnswerer::answer()
{
    if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
        dialogStart = dialog->directory().absolutePath();
        const QStringList chosen = dialog->selectedFiles();
        if (!chosen.isEmpty() && !chosen.constFirst().isEmpty())
            dialogStart = chosen.constFirst();
        if (fileToPick.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(fileToPick);
            QMetaObject::invokeMethod(dialog, "accept");
        }
        return;
    }
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box->buttons().isEmpty())
        return;
    boxes.append(box->windowTitle() + QStringLiteral(": ") + box->text());
    QTextDocument detail;
    detail.setHtml(box->informativeText());
    boxDetails.append(detail.toPlainText());
    QAbstractButton *answer = box->button(standardAnswer);
    (answer ? answer : box->buttons().constFirst())->click();
}
