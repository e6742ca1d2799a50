#include "ExportText.h"
#include "MyException.h"
#include "TextDecoding.h"
#include "Thrown.h"

#include <QBuffer>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTest>
#include <QTime>
#include <cfloat>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

class MemoryRows : public ResultRows
{
public:
    MemoryRows(QStringList names, QList<QStringList> records)
        : m_names(std::move(names)), m_records(std::move(records))
    {}

    bool isOpen() const override { return open; }
    QStringList fieldNames() const override { return m_names; }
    void forEachRecord(const std::function<bool(RecordFields)>& onRecord) override
    {
        for (const QStringList& record : m_records) {
            ++visited;
            const std::vector<QStringView> fields(record.cbegin(), record.cend());
            if (!onRecord(fields))
                return;
        }
    }

    qsizetype visited = 0;
    bool open = true;

private:
    QStringList m_names;
    QList<QStringList> m_records;
};

// Takes at most `chunk` bytes per write and refuses everything past `limit`, as a full disk does.
class LimitedDevice : public QIODevice
{
public:
    explicit LimitedDevice(qint64 limit, qint64 chunk = std::numeric_limits<qint64>::max())
        : m_limit(limit), m_chunk(chunk)
    {
        open(QIODevice::WriteOnly);
    }

    QByteArray written;
    int writeCalls = 0;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override
    {
        ++writeCalls;
        const qint64 room = m_limit - written.size();
        if (room <= 0) {
            setErrorString(u"No space left on device"_s);
            return -1;
        }
        const qint64 n = std::min({len, m_chunk, room});
        written.append(data, static_cast<qsizetype>(n));
        return n;
    }

private:
    qint64 m_limit;
    qint64 m_chunk;
};

// Enough rows to cross several write blocks, with Cyrillic, a surrogate pair and empty fields.
MemoryRows manyRows(int count)
{
    QList<QStringList> records;
    records.reserve(count);
    for (int i = 0; i < count; ++i)
        records.append(
            {QString::number(i), u"Клиент №%1 😀"_s.arg(i), i % 7 == 0 ? QString() : u"ёлка"_s});
    return MemoryRows({u"Код"_s, u"Название"_s, u"Примечание"_s}, records);
}

QByteArray fileBytes(ResultRows& rows)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    WriteExportFile(rows, buffer);
    return buffer.data();
}

} // namespace

class TestExportText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void exportText_data();
    void exportText();
    void fileBytesInWindows1251();
    void fileMatchesTextAcrossBlocks();
    void shortWritesAreCompleted();
    void refusedBytesThrow_data();
    void refusedBytesThrow();
    void fullDiskFileThrows();
    void noResultReadsNothing();

    void fieldText_data();
    void fieldText();
    void floatingTextReadsBack_data();
    void floatingTextReadsBack();
};

// The kept form of a value must not follow the machine's regional settings (only what the grid
// shows does); a Russian default would give a decimal comma if it did.
void TestExportText::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestExportText::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestExportText::exportText_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<QStringList>>("records");
    QTest::addColumn<QString>("expected");

    const QStringList ab{u"a"_s, u"b"_s};
    QTest::newRow("no rows") << ab << QList<QStringList>{} << u"a\tb\r\n"_s;
    QTest::newRow("rows") << ab << QList<QStringList>{{u"1"_s, u"x"_s}, {u"2"_s, u"y"_s}}
                          << u"a\tb\r\n1\tx\r\n2\ty\r\n"_s;
    QTest::newRow("empty last field")
        << ab << QList<QStringList>{{u"1"_s, QString()}} << u"a\tb\r\n1\t\r\n"_s;
    QTest::newRow("all fields empty")
        << ab << QList<QStringList>{{QString(), QString()}} << u"a\tb\r\n\t\r\n"_s;
    QTest::newRow("one empty field")
        << QStringList{u"a"_s} << QList<QStringList>{{QString()}} << u"a\r\n\r\n"_s;
    QTest::newRow("tab inside value")
        << ab << QList<QStringList>{{u"x\ty"_s, u"z"_s}} << u"a\tb\r\nx\ty\tz\r\n"_s;
    QTest::newRow("line breaks inside value")
        << ab << QList<QStringList>{{u"x\r\ny\nz"_s, u"w"_s}} << u"a\tb\r\nx\r\ny\nz\tw\r\n"_s;
    QTest::newRow("quotes stay") << QStringList{u"\"a\""_s} << QList<QStringList>{{u"=1;\""_s}}
                                 << u"\"a\"\r\n=1;\"\r\n"_s;
    QTest::newRow("cyrillic") << QStringList{u"Клиент"_s, u"Город"_s}
                              << QList<QStringList>{{u"ООО «Ромашка»"_s, u"Москва"_s}}
                              << u"Клиент\tГород\r\nООО «Ромашка»\tМосква\r\n"_s;
    QTest::newRow("no fields") << QStringList{} << QList<QStringList>{} << u"\r\n"_s;
}

void TestExportText::exportText()
{
    QFETCH(QStringList, names);
    QFETCH(QList<QStringList>, records);
    QFETCH(QString, expected);

    MemoryRows rows(names, records);
    QCOMPARE(ExportText(rows), expected);
    QCOMPARE(rows.visited, records.size());
    QCOMPARE(fileBytes(rows), platform::encodeWindows1251(expected));
}

void TestExportText::fileBytesInWindows1251()
{
    MemoryRows rows({u"Имя"_s, u"Знак"_s}, {{u"Ёж"_s, u"€№«»"_s}, {u"ēß😀"_s, u"?"_s}});
    const QString text = ExportText(rows);
    // The clipboard form keeps every character; only the file loses those outside the code page.
    QVERIFY(text.contains(u"ēß😀"_s));
    QCOMPARE(fileBytes(rows), QByteArray("\xC8\xEC\xFF\t\xC7\xED\xE0\xEA\r\n"
                                         "\xA8\xE6\t\x88\xB9\xAB\xBB\r\n"
                                         "???\t?\r\n"));
    // Counted as characters (the pair is one), and a "?" of the text is none of them.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QCOMPARE(WriteExportFile(rows, buffer), 3);
}

void TestExportText::fileMatchesTextAcrossBlocks()
{
    MemoryRows rows = manyRows(40000);
    const QByteArray expected = platform::encodeWindows1251(ExportText(rows));
    QVERIFY(expected.size() > 1024 * 1024);

    LimitedDevice device(std::numeric_limits<qint64>::max());
    WriteExportFile(rows, device);
    QCOMPARE(device.written.size(), expected.size());
    QVERIFY(device.written == expected);
    // Large blocks, not a write per record.
    QVERIFY2(device.writeCalls < 40, QByteArray::number(device.writeCalls).constData());
}

void TestExportText::shortWritesAreCompleted()
{
    MemoryRows rows = manyRows(50);
    LimitedDevice device(std::numeric_limits<qint64>::max(), 7);
    WriteExportFile(rows, device);
    QVERIFY(device.written == platform::encodeWindows1251(ExportText(rows)));
}

void TestExportText::refusedBytesThrow_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("stopsEarly");

    QTest::newRow("nothing taken") << 3 << qint64(0) << false;
    QTest::newRow("header only taken") << 3 << qint64(20) << false;
    QTest::newRow("full in the middle") << 40000 << qint64(100000) << true;
}

void TestExportText::refusedBytesThrow()
{
    QFETCH(int, records);
    QFETCH(qint64, limit);
    QFETCH(bool, stopsEarly);

    MemoryRows rows = manyRows(records);
    const QByteArray expected = platform::encodeWindows1251(ExportText(rows));
    rows.visited = 0;
    LimitedDevice device(limit);
    EXPECT_THROWN(refused, Error, WriteExportFile(rows, device));
    QCOMPARE(refused.message, u"Не удалось записать данные: No space left on device"_s);
    QCOMPARE(device.written.size(), limit);
    QVERIFY(expected.startsWith(device.written));
    // No point reading a million rows after the disk is full.
    if (stopsEarly)
        QVERIFY(rows.visited < records);
}

// A file buffers what it is given: the refusal shows only when the last bytes go out.
void TestExportText::fullDiskFileThrows()
{
    const QString path = u"/dev/full"_s;
    QFile file(path);
    if (!QFileInfo::exists(path) || !file.open(QIODevice::WriteOnly))
        QSKIP("no /dev/full here");
    MemoryRows rows({u"a"_s}, {{u"1"_s}});
    EXPECT_THROWN(full, Error, WriteExportFile(rows, file));
    QVERIFY2(full.message.startsWith(u"Не удалось записать файл \"/dev/full\": "_s),
             full.describe());
}

// Without a result nothing is read and not a byte written: a half-written file or an empty
// clipboard text would pass for an export.
void TestExportText::noResultReadsNothing()
{
    MemoryRows rows = manyRows(3);
    rows.open = false;
    QVERIFY_THROWS_EXCEPTION(Error, ExportText(rows));
    LimitedDevice device(std::numeric_limits<qint64>::max());
    QVERIFY_THROWS_EXCEPTION(Error, WriteExportFile(rows, device));
    QCOMPARE(device.writeCalls, 0);
    QCOMPARE(rows.visited, 0);
}

void TestExportText::fieldText_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("null") << QVariant() << QString();
    QTest::newRow("typed null") << QVariant(QMetaType::fromType<int>()) << QString();
    QTest::newRow("empty text") << QVariant(u""_s) << QString();
    QTest::newRow("driver decimal") << QVariant(u"3.50"_s) << u"3.50"_s;
    QTest::newRow("driver date") << QVariant(u"2014-12-25 09:05:00.000"_s)
                                 << u"2014-12-25 09:05:00.000"_s;
    QTest::newRow("text with tab") << QVariant(u"a\tб"_s) << u"a\tб"_s;
    QTest::newRow("int") << QVariant(-42) << u"-42"_s;
    QTest::newRow("large int") << QVariant(1234567) << u"1234567"_s;
    QTest::newRow("long long min")
        << QVariant(std::numeric_limits<qlonglong>::min()) << u"-9223372036854775808"_s;
    QTest::newRow("unsigned long long max")
        << QVariant(std::numeric_limits<qulonglong>::max()) << u"18446744073709551615"_s;
    QTest::newRow("short") << QVariant::fromValue<short>(-7) << u"-7"_s;
    QTest::newRow("unsigned char") << QVariant::fromValue<uchar>(200) << u"200"_s;
    QTest::newRow("double 0.1") << QVariant(0.1) << u"0.1"_s;
    QTest::newRow("double fraction") << QVariant(-1234.5) << u"-1234.5"_s;
    QTest::newRow("double whole") << QVariant(1234567.0) << u"1234567"_s;
    QTest::newRow("double third") << QVariant(1.0 / 3) << u"0.3333333333333333"_s;
    QTest::newRow("double large") << QVariant(1e20) << u"1e+20"_s;
    QTest::newRow("double small") << QVariant(2.5e-7) << u"2.5e-07"_s;
    QTest::newRow("float 0.1") << QVariant(0.1f) << u"0.1"_s;
    QTest::newRow("float fraction") << QVariant(3.14159f) << u"3.14159"_s;
    QTest::newRow("binary") << QVariant(QByteArray("\x00\xAB\x1f", 3)) << u"0x00AB1F"_s;
    QTest::newRow("empty binary") << QVariant(QByteArray("")) << u"0x"_s;
    QTest::newRow("date") << QVariant(QDate(2014, 12, 5)) << u"2014-12-05"_s;
    QTest::newRow("date time") << QVariant(QDateTime(QDate(2014, 12, 25), QTime(9, 5, 0, 7)))
                               << u"2014-12-25 09:05:00.007"_s;
    QTest::newRow("time") << QVariant(QTime(23, 0, 59, 120)) << u"23:00:59.120"_s;
    QTest::newRow("true") << QVariant(true) << u"1"_s;
    QTest::newRow("false") << QVariant(false) << u"0"_s;
}

void TestExportText::fieldText()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    QCOMPARE(FieldText(value), expected);
}

void TestExportText::floatingTextReadsBack_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("0.1") << 0.1;
    QTest::newRow("2/3") << 2.0 / 3;
    QTest::newRow("money") << 123456.789;
    QTest::newRow("tiny") << 1e-300;
    QTest::newRow("denormal") << std::numeric_limits<double>::denorm_min();
    QTest::newRow("max") << DBL_MAX;
    QTest::newRow("negative") << -0.000123456789012345;
}

void TestExportText::floatingTextReadsBack()
{
    QFETCH(double, value);
    const QString text = FieldText(value);
    bool ok = false;
    QCOMPARE(QLocale::c().toDouble(text, &ok), value);
    QVERIFY(ok);
    QVERIFY2(text.size() <= QString::number(value, 'g', 17).size(), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestExportText)
#include "tst_exporttext.moc"
