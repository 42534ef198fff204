// The four texts the window keeps in ./setting.ini: restored at start-up,
// written at every edit, never created by start-up alone.

#include "link/portlist.h"
#include "mywidget.h"
#include "testenv.h"

#include <QLineEdit>
#include <QtTest>

namespace {

QLineEdit *field(MyWidget &window, const QString &name)
{
    return TestEnv::control<QLineEdit>(&window, name.toLatin1().constData());
}

} // namespace

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
            QVERIFY2(field(window, QLatin1String(name))->text().isEmpty(), name);
    }
    QVERIFY(!scratch.hasSettingsFile());
}

void SettingsTest::storedTextComesBack_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown"); // also what start-up stores back

    QTest::newRow("serial number") << "section5/SN" << "lineEditSN" << "Q217MXTA0042"
                                   << "Q217MXTA0042";
    QTest::newRow("camera address") << "section3/Cam_Addr" << "txt_ip" << "192.168.1.64"
                                    << "192.168.1.64";
    QTest::newRow("camera port") << "section6/IP_Port" << "txt_port_tx" << "1259" << "1259";
    QTest::newRow("logo") << "section4/Logo" << "lineEditLogo" << "ACME" << "ACME";
    // Start-up cuts them to the fields' maximum lengths.
    QTest::newRow("serial number of 20") << "section5/SN" << "lineEditSN"
                                         << "ABCDEFGHIJKLMNOPQRST" << "ABCDEFGHIJKLMNO";
    QTest::newRow("logo of 10") << "section4/Logo" << "lineEditLogo" << "LOGO123456" << "LOGO123";
}

void SettingsTest::storedTextComesBack()
{
    QFETCH(QString, key);
    QFETCH(QString, field);
    QFETCH(QString, stored);
    QFETCH(QString, shown);

    TestEnv::ScratchDir scratch;
    TestEnv::writeSettings({{key, stored}});
    MyWidget window;
    QCOMPARE(::field(window, field)->text(), shown);
    QCOMPARE(scratch.storedText(key), shown);
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

// Each keystroke rewrites the file; clearing the field stores an empty text
// (the key stays), and the next start shows the field empty.
void SettingsTest::everyKeystrokeIsStored()
{
    QFETCH(QString, key);
    QFETCH(QString, field);

    TestEnv::ScratchDir scratch;
    MyWidget window;
    QLineEdit *edit = ::field(window, field);
    // The serial number sits in a panel that start-up disables.
    edit->parentWidget()->setEnabled(true);
    QString typed;
    for (QChar c : QStringLiteral("123")) {
        QTest::keyClick(edit, c.toLatin1());
        typed += c;
        QCOMPARE(scratch.storedText(key), typed);
    }

    edit->clear();
    QSettings file(scratch.settingsFile(), QSettings::IniFormat);
    QVERIFY(file.contains(key));
    QCOMPARE(file.value(key).toString(), QString());
    MyWidget again;
    QCOMPARE(::field(again, field)->text(), QString());
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
