// The four texts the window keeps in ./setting.ini: restored at start-up,
// written at every edit, never created by start-up alone.

#include "link/portlist.h"
#include "mywidget.h"
#include "testenv.h"

#include <QLineEdit>
#include <QtTest>

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startupAloneCreatesNoFile();
    void storedTextComesBack_data();
    void storedTextComesBack();
    void everyKeystrokeIsStored_data();
    void everyKeystrokeIsStored();
    void clearedFieldStoresEmptyText();
    void overlongStoredTextIsCutAndStoredBack_data();
    void overlongStoredTextIsCutAndStoredBack();
};

void SettingsTest::initTestCase()
{
    PortList::setSource([] { return QList<PortList::Port>{}; });
}

void SettingsTest::startupAloneCreatesNoFile()
{
    TestEnv::ScratchDir scratch;
    {
        MyWidget window;
        window.show();
        QCoreApplication::processEvents();
        for (const char *name : {"lineEditSN", "txt_ip", "txt_port_tx", "lineEditLogo"})
            QVERIFY2(TestEnv::control<QLineEdit>(&window, name)->text().isEmpty(), name);
    }
    QVERIFY(!scratch.hasSettingsFile());
}

void SettingsTest::storedTextComesBack_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");

    QTest::newRow("serial number") << "section5/SN" << "lineEditSN" << "Q217MXTA0042";
    QTest::newRow("camera address") << "section3/Cam_Addr" << "txt_ip" << "192.168.1.64";
    QTest::newRow("camera port") << "section6/IP_Port" << "txt_port_tx" << "1259";
    QTest::newRow("logo") << "section4/Logo" << "lineEditLogo" << "ACME";
}

void SettingsTest::storedTextComesBack()
{
    QFETCH(QString, key);
    QFETCH(QString, field);
    QFETCH(QString, value);

    TestEnv::ScratchDir scratch;
    TestEnv::writeSettings({{key, value}});
    MyWidget window;
    QCOMPARE(TestEnv::control<QLineEdit>(&window, field.toLatin1().constData())->text(), value);
    QCOMPARE(scratch.storedText(key), value);
}

void SettingsTest::everyKeystrokeIsStored_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("field");

    QTest::newRow("camera port") << "section6/IP_Port" << "txt_port_tx";
    QTest::newRow("camera address") << "section3/Cam_Addr" << "txt_ip";
    QTest::newRow("logo") << "section4/Logo" << "lineEditLogo";
    QTest::newRow("serial number") << "section5/SN" << "lineEditSN";
}

void SettingsTest::everyKeystrokeIsStored()
{
    QFETCH(QString, key);
    QFETCH(QString, field);

    TestEnv::ScratchDir scratch;
    MyWidget window;
    auto *edit = TestEnv::control<QLineEdit>(&window, field.toLatin1().constData());
    // The fields lie outside the visible strip and in a disabled panel for the
    // serial number; typing goes to the widget itself.
    edit->setEnabled(true);
    edit->parentWidget()->setEnabled(true);
    QString typed;
    for (QChar c : QStringLiteral("123")) {
        QTest::keyClick(edit, c.toLatin1());
        typed += c;
        QCOMPARE(scratch.storedText(key), typed);
    }
}

void SettingsTest::clearedFieldStoresEmptyText()
{
    TestEnv::ScratchDir scratch;
    TestEnv::writeSettings({{QStringLiteral("section3/Cam_Addr"), QStringLiteral("10.0.0.9")}});
    {
        MyWidget window;
        TestEnv::control<QLineEdit>(&window, "txt_ip")->clear();
    }
    QSettings file(scratch.settingsFile(), QSettings::IniFormat);
    QVERIFY(file.contains(QStringLiteral("section3/Cam_Addr")));
    QCOMPARE(file.value(QStringLiteral("section3/Cam_Addr")).toString(), QString());

    MyWidget again;
    QCOMPARE(TestEnv::control<QLineEdit>(&again, "txt_ip")->text(), QString());
}

void SettingsTest::overlongStoredTextIsCutAndStoredBack_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("kept");

    QTest::newRow("serial number of 20") << "section5/SN" << "lineEditSN"
                                         << "ABCDEFGHIJKLMNOPQRST" << "ABCDEFGHIJKLMNO";
    QTest::newRow("logo of 10") << "section4/Logo" << "lineEditLogo" << "LOGO123456" << "LOGO123";
}

void SettingsTest::overlongStoredTextIsCutAndStoredBack()
{
    QFETCH(QString, key);
    QFETCH(QString, field);
    QFETCH(QString, stored);
    QFETCH(QString, kept);

    TestEnv::ScratchDir scratch;
    TestEnv::writeSettings({{key, stored}});
    MyWidget window;
    QCOMPARE(TestEnv::control<QLineEdit>(&window, field.toLatin1().constData())->text(), kept);
    QCOMPARE(scratch.storedText(key), kept);
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
