// The port list the window offers: Windows names sorted by number, other
// names in natural order, and "No Com" with the Open button disabled when
// the machine has no serial port at all.

#include "link/portlist.h"
#include "mywidget.h"
#include "testenv.h"

#include <QComboBox>
#include <QPushButton>
#include <QtTest>

class PortListTest : public QObject
{
    Q_OBJECT

private slots:
    void windowListsInstalledPorts_data();
    void windowListsInstalledPorts();
    void cleanup();
};

void PortListTest::windowListsInstalledPorts_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("no port") << QStringList{} << QStringList{"No Com"};
    QTest::newRow("numeric order") << QStringList{"COM3", "COM10", "COM4"}
                                   << QStringList{"COM3", "COM4", "COM10"};
    QTest::newRow("non-numeric COM name reads as 0") << QStringList{"COM2", "COMX"}
                                                     << QStringList{"COM0", "COM2"};
    QTest::newRow("leading zeros dropped") << QStringList{"COM007"} << QStringList{"COM7"};
    QTest::newRow("duplicates kept") << QStringList{"COM5", "COM5"}
                                     << QStringList{"COM5", "COM5"};
    QTest::newRow("linux names in natural order")
        << QStringList{"ttyUSB10", "ttyS0", "ttyUSB2", "ttyACM0", "rfcomm10", "rfcomm9"}
        << QStringList{"rfcomm9", "rfcomm10", "ttyACM0", "ttyS0", "ttyUSB2", "ttyUSB10"};
    QTest::newRow("COM names before the others") << QStringList{"ttyUSB0", "COM12", "COM3"}
                                                 << QStringList{"COM3", "COM12", "ttyUSB0"};
}

void PortListTest::windowListsInstalledPorts()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, listed);

    PortList::setSource([present] {
        QList<PortList::Port> ports;
        for (const QString &name : present)
            ports.append({name, QStringLiteral("/dev/null"), QString()});
        return ports;
    });
    TestEnv::ScratchDir scratch;
    MyWidget window;
    auto *box = TestEnv::control<QComboBox>(&window, "comboBoxCom");
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown.append(box->itemText(i));
    QCOMPARE(shown, listed);
    QCOMPARE(box->maxVisibleItems(), 5);
    QCOMPARE(TestEnv::control<QPushButton>(&window, "pushButtonOpen")->isEnabled(),
             !present.isEmpty());
}

void PortListTest::cleanup()
{
    PortList::setSource({});
}

QTEST_MAIN(PortListTest)
#include "tst_portlist.moc"
