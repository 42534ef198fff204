#ifndef QUILLON_ABOUTME_H
#define QUILLON_ABOUTME_H

#include <QWidget>

class Ui_aboutme;

// The small frameless "About" window: product, maker, version and web address.
class aboutme : public QWidget
{
    Q_OBJECT

public:
    explicit aboutme(QWidget *parent = nullptr);
    ~aboutme() override;

private slots:
    void on_pushButton_clicked();

private:
    Ui_aboutme *ui;
};

#endif // QUILLON_ABOUTME_H
