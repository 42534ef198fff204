#ifndef QUILLON_BOXANSWERER_H
#define QUILLON_BOXANSWERER_H

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// While it lives, every modal message box that opens is noted ("title: text")
// and answered with its first button, or the one set by answerWith(), so no
// test ever hangs on one. A file dialog is answered with the file set by
// pickFile(), or cancelled.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    BoxAnswerer();
    QStringList seen() const { return boxes; }
    // The informative text of each box, as plain text (empty when it had none).
    QStringList details() const { return boxDetails; }
    // The next boxes that offer this button are answered with it.
    void answerWith(QMessageBox::StandardButton button) { standardAnswer = button; }
    // The next file dialogs choose this file; an empty path cancels them.
    void pickFile(const QString &path) { fileToPick = path; }
    // The directory or file the last file dialog started at.
    QString fileDialogStart() const { return dialogStart; }

private:
    void answer();

    QTimer poll;
    QStringList boxes;
    QStringList boxDetails;
    QString fileToPick;
    QString dialogStart;
    QMessageBox::StandardButton standardAnswer = QMessageBox::NoButton;
};

#endif // QUILLON_BOXANSWERER_H
