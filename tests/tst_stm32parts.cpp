// The table of STM32 parts: known rows, which erase unit holds an address on
// page and sector layouts, which units an image needs, and the consistency of
// every row of the table.

#include "isp/stm32parts.h"

#include <QSet>
#include <QtTest>

using Ranges = QList<QPair<quint32, quint32>>;
using Stm32Parts::find;

class Stm32PartsTest : public QObject
{
    Q_OBJECT

private slots:
    void knownPart_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("kb");
        QTest::addColumn<int>("units");
        QTest::addColumn<quint32>("fSize"); // 0: none given
        QTest::newRow("F0") << 0x440 << QString("STM32F030x8/F05xxx") << 64u << 64 << 0x1FFFF7CCu;
        QTest::newRow("F1") << 0x410 << QString("STM32F10xxx medium-density") << 128u << 128 << 0x1FFFF7E0u;
        QTest::newRow("F2") << 0x411 << QString("STM32F2xxxx") << 1024u << 12 << 0x1FFF7A22u;
        QTest::newRow("F3") << 0x446 << QString("STM32F302xD(E)/F303xD(E)/F398xx") << 512u << 256 << 0x1FFFF7CCu;
        QTest::newRow("F4") << 0x413 << QString("STM32F40xxx/41xxx") << 1024u << 12 << 0x1FFF7A22u;
        QTest::newRow("F7") << 0x451 << QString("STM32F76xxx/77xxx") << 2048u << 12 << 0x1FF0F442u;
        QTest::newRow("G0") << 0x460 << QString("STM32G07xxx/08xxx") << 128u << 64 << 0x1FFF75E0u;
        QTest::newRow("G4") << 0x469 << QString("STM32G47xxx/48xxx") << 512u << 256 << 0x1FFF75E0u;
        QTest::newRow("L0") << 0x417 << QString("STM32L05xxx/06xxx") << 64u << 512 << 0x1FF8007Cu;
        QTest::newRow("L1, F_SIZE not in KB") << 0x436 << QString("STM32L1xxxD") << 384u << 1536 << 0u;
        QTest::newRow("L4") << 0x415 << QString("STM32L47xxx/48xxx") << 1024u << 512 << 0x1FFF75E0u;
    }

    void knownPart()
    {
        QFETCH(int, id);
        const Stm32Parts::Part *part = find(quint16(id));
        QVERIFY(part);
        QTEST(QString::fromLatin1(part->name), "name");
        QCOMPARE(part->flashStart, 0x08000000u);
        QTEST(part->flashBytes / 1024, "kb");
        QTEST(Stm32Parts::unitCount(*part), "units");
        QTEST(part->flashSizeRegister, "fSize");
    }

    void unknownIdIsNotFound() { QVERIFY(!find(0x000) && !find(0x9A8) && !find(0xFFF)); }

    void unitAt_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("unit"); // -1: outside the flash
        QTest::newRow("F1 first byte") << 0x410 << 0x08000000u << 0;
        QTest::newRow("F1 last byte") << 0x410 << 0x0801FFFFu << 127;
        QTest::newRow("F1 first byte past the end") << 0x410 << 0x08020000u << -1;
        QTest::newRow("F4 last byte of sector 3") << 0x413 << 0x0800FFFFu << 3;
        QTest::newRow("F4 first byte of sector 4 (64 KB)") << 0x413 << 0x08010000u << 4;
        QTest::newRow("F4 first 128 KB sector") << 0x413 << 0x0803FFFFu << 5;
        QTest::newRow("0x419 last byte of bank 1") << 0x419 << 0x080FFFFFu << 11;
        QTest::newRow("0x419 first byte of bank 2") << 0x419 << 0x08100000u << 12;
        QTest::newRow("0x419 bank 2's 64 KB sector") << 0x419 << 0x0811FFFFu << 16;
        QTest::newRow("F7 256 KB sector") << 0x451 << 0x0807FFFFu << 5;
    }

    // unit() must also give back the unit that holds the address.
    void unitAt()
    {
        QFETCH(int, id);
        QFETCH(quint32, address);
        QFETCH(int, unit);
        const Stm32Parts::Part &part = *find(quint16(id));
        QCOMPARE(Stm32Parts::unitAt(part, address).value_or(-1), unit);
        const std::optional<Stm32Parts::Unit> where = Stm32Parts::unit(part, unit);
        QCOMPARE(where && where->start <= address && address - where->start < where->bytes, unit >= 0);
    }

    void unitsCovering_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<Ranges>("ranges"); // [start, end)
        QTest::addColumn<QList<int>>("units");
        QTest::newRow("F1 image at 0x08008000") << 0x410 << Ranges{{0x08008000, 0x08009234}} << QList<int>{32, 33, 34, 35, 36};
        QTest::newRow("F4 image at 0x08008000") << 0x413 << Ranges{{0x08008000, 0x08010000}} << QList<int>{2, 3};
        QTest::newRow("F4 one byte into sector 4") << 0x413 << Ranges{{0x08008000, 0x08010001}} << QList<int>{2, 3, 4};
        QTest::newRow("F4 two separated ranges, later first")
            << 0x413 << Ranges{{0x08060000, 0x08060010}, {0x08000000, 0x08000100}} << QList<int>{0, 7};
        QTest::newRow("F1 overlapping ranges, each page once")
            << 0x410 << Ranges{{0x08000000, 0x08000800}, {0x08000400, 0x08000C00}} << QList<int>{0, 1, 2};
        QTest::newRow("F1 bytes outside the flash left out")
            << 0x410 << Ranges{{0x07FFFF00, 0x08000100}, {0x0801FC00, 0x08020400}} << QList<int>{0, 127};
    }

    void unitsCovering()
    {
        QFETCH(int, id);
        QFETCH(Ranges, ranges);
        QTEST(Stm32Parts::unitsCovering(*find(quint16(id)), ranges), "units");
    }

    void holds()
    {
        const Stm32Parts::Part &f1 = *find(0x410);
        QVERIFY(Stm32Parts::holds(f1, 0x08000000, 0x08020000));
        QVERIFY(!Stm32Parts::holds(f1, 0x08000000, 0x08020001));
        QVERIFY(!Stm32Parts::holds(f1, 0x07FFFFFF, 0x08000010));
    }

    // Fails when an edited row no longer adds up.
    void everyRowIsConsistent()
    {
        QSet<quint16> ids;
        for (const Stm32Parts::Part &part : Stm32Parts::all()) {
            const QByteArray row = "0x" + QByteArray::number(part.productId, 16);
            QVERIFY2(!ids.contains(part.productId), QByteArray(row + " appears twice").constData());
            ids.insert(part.productId);
            quint64 sum = 0;
            for (const Stm32Parts::EraseRun &run : part.layout)
                sum += quint64(run.count) * run.bytes;
            QVERIFY2(sum == part.flashBytes, QByteArray(row + ": the units do not add up to the flash size").constData());
        }
    }
};

QTEST_GUILESS_MAIN(Stm32PartsTest)
#include "tst_stm32parts.moc"
