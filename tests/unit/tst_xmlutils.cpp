#include "MyException.h"
#include "TestFiles.h"
#include "XMLUtils.h"

#include <QDomDocument>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString lead = u"Список названий баз данных не загружен."_s;

QString loadError(const QString& path)
{
    try {
        DBCatalogue catalogue;
        LoadDBList(path, catalogue);
    } catch (const MyException& error) {
        return error.message();
    }
    return {};
}

} // namespace

class TestXmlUtils : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        if (!writeFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void catalogue()
    {
        const QString path = write(
            u"dbs.xml"_s,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<dbs>\n"
            "  <db name=\"ostrel_ts\" path_mdf=\"%appdir%Data\\o.mdf\" default_mdf=\"C:\\o.mdf\""
            " path_ldf=\"%appdir%Data\\o.ldf\" default_ldf=\"C:\\o.ldf\"/>\n"
            "  <!-- a comment between entries -->\n"
            "  <other name=\"Склад\" path_mdf=\"a\" default_mdf=\"b\" path_ldf=\"c\">"
            "<nested name=\"ignored\"/></other>\n"
            "</dbs>\n");
        DBCatalogue catalogue;
        catalogue.items = {u"stale"_s};
        LoadDBList(path, catalogue);
        QCOMPARE(catalogue.items, (QStringList{u"ostrel_ts"_s, u"Склад"_s}));
        QCOMPARE(catalogue.paths.size(), 2);
        QCOMPARE(catalogue.paths.value(u"OSTREL_TS"_s).value_or(u"-"_s),
                 u"%appdir%Data\\o.mdf\tC:\\o.mdf\t%appdir%Data\\o.ldf\tC:\\o.ldf\t"_s);
        // A missing attribute is the empty text, so the value ends with two TABs.
        QCOMPARE(catalogue.paths.value(u"склад"_s).value_or(u"-"_s), u"a\tb\tc\t\t"_s);
    }

    void equalNamesShareOneEntry()
    {
        const QString path = write(u"dup.xml"_s, "<dbs><db name=\"Base\" path_mdf=\"1\"/>"
                                                 "<db name=\"BASE\" path_mdf=\"2\"/></dbs>");
        DBCatalogue catalogue;
        LoadDBList(path, catalogue);
        QCOMPARE(catalogue.items, (QStringList{u"Base"_s, u"BASE"_s}));
        QCOMPARE(catalogue.paths.size(), 1);
        QCOMPARE(catalogue.paths.names(), QStringList{u"BASE"_s});
        QCOMPARE(catalogue.paths.value(u"base"_s).value_or(QString()), u"2\t\t\t\t"_s);
    }

    void lastTopLevelNodeIsTheCatalogue()
    {
        const QString path =
            write(u"tail.xml"_s, "<dbs><db name=\"a\"/></dbs>\n<!-- written by hand -->\n");
        DBCatalogue catalogue;
        LoadDBList(path, catalogue);
        QVERIFY(catalogue.items.isEmpty());
        QCOMPARE(catalogue.paths.size(), 0);
    }

    void utf16File()
    {
        QStringEncoder toUtf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        const QByteArray bytes = toUtf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                                         u"<dbs><db name=\"База\" path_mdf=\"м\"/></dbs>"_s);
        DBCatalogue catalogue;
        LoadDBList(write(u"utf16.xml"_s, bytes), catalogue);
        QCOMPARE(catalogue.items, QStringList{u"База"_s});
    }

    void missingFileIsNoError()
    {
        DBCatalogue catalogue;
        catalogue.items = {u"stale"_s};
        LoadDBList(m_dir.filePath(u"none.xml"_s), catalogue);
        QVERIFY(catalogue.items.isEmpty());
    }

    void unreadableFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not well-formed") << QByteArray("<dbs><db name=\"a\"></dbs>");
        QTest::newRow("garbage") << QByteArray("\x01\x02\xff\xfe garbage", 13);
        QTest::newRow("empty file") << QByteArray();
        QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
        for (int i = 1; i <= 9; ++i)
            bomb += "<!ENTITY lol" + QByteArray::number(i) + " \"" +
                    QByteArray("&lol" + (i == 1 ? QByteArray() : QByteArray::number(i - 1)) + ";")
                        .repeated(10) +
                    "\">\n";
        bomb += "]>\n<dbs><db name=\"&lol9;\"/></dbs>\n";
        QTest::newRow("entity expansion bomb") << bomb;
    }

    void unreadableFiles()
    {
        QFETCH(QByteArray, content);
        const QString path = write(u"bad.xml"_s, content);
        const QString message = loadError(path);
        const QString expectedStart =
            lead + u"\r\nФайл по пути \""_s + path + u"\" не удалось прочитать.\r\n"_s;
        QVERIFY2(message.startsWith(expectedStart), qPrintable(message));
        QVERIFY(message.size() > expectedStart.size()); // the parser's own words follow
        QVERIFY(message.endsWith(u"\r\n"_s));
    }

    void oversizedFileIsRefusedUnread()
    {
        const QString path = m_dir.filePath(u"huge.xml"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(maxXmlFileSize + 1)); // sparse: no time or disk spent
        file.close();
        QVERIFY(loadError(path).contains(u"не удалось прочитать."_s));
        QFile::remove(path);
    }

    void loadXmlMessages()
    {
        const QString missing = m_dir.filePath(u"missing.xml"_s);
        QDomDocument doc;
        QVERIFY(!LoadXML(&doc, missing, false, lead, true));

        const auto messageOf = [&](QDomDocument* target, const QString& leadMsg, bool addFile) {
            try {
                LoadXML(target, missing, true, leadMsg, addFile);
            } catch (const MyException& error) {
                return error.message();
            }
            return u"<no error>"_s;
        };
        QCOMPARE(messageOf(nullptr, lead, true), u"XML=nil\r\n(Ошибка вызвана в LoadXML)"_s);
        QCOMPARE(messageOf(&doc, lead, true),
                 lead + u"\r\nФайл по пути \""_s + missing + u"\" не найден"_s);
        QCOMPARE(messageOf(&doc, QString(), true),
                 u"Файл по пути \""_s + missing + u"\" не найден"_s);
        QCOMPARE(messageOf(&doc, lead, false), lead);

        const QString good = write(u"good.xml"_s, "<a/>");
        QVERIFY(LoadXML(&doc, good, true, lead, true));
        QCOMPARE(doc.documentElement().tagName(), u"a"_s);
    }
};

QTEST_GUILESS_MAIN(TestXmlUtils)
#include "tst_xmlutils.moc"
