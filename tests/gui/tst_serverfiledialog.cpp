// The dialog over a remote server's disks: the path rules it answers with, and the dialog driven
// with mouse and keys over a scripted server.
#include "QtOperatorUi.h"
#include "ServerFileDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <map>
#include <stdexcept>

using namespace Qt::StringLiterals;
using Choice = OperatorUi::ServerChoice;
using Entry = OperatorUi::ServerFolders::Entry;

namespace {

const QString notReady = u"Устройство не готово."_s;
const QString backupFilter = u"Файл резервной копии|*.bak|Все файлы|*.*"_s;

// A server's disks as the dialog sees them: listings by folder (without regard to case, as on
// Windows), folders that refuse, and every listing asked for.
class FakeServer : public OperatorUi::ServerFolders
{
public:
    FakeServer()
    {
        folders[u"C:\\"_s] = {
            {u"Backup"_s, false}, {u"Program Files"_s, false}, {u"pagefile.sys"_s, true}};
        folders[u"C:\\Backup\\"_s] = {{u"Old"_s, false},
                                      {u"base.bak"_s, true},
                                      {u"BASE2.BAK"_s, true},
                                      {u"notes.txt"_s, true},
                                      {u"README"_s, true}};
        folders[u"C:\\Backup\\Old\\"_s] = {{u"old.bak"_s, true}};
        folders[u"D:\\"_s] = {{u"Data"_s, false}};
        folders[u"D:\\Data\\"_s] = {{u"x.mdf"_s, true}, {u"x_log.ldf"_s, true}};
        folders[u"/var/opt/mssql/"_s] = {{u"data"_s, false}};
        folders[u"/var/opt/mssql/data/"_s] = {{u"db.bak"_s, true}};
        refused[u"E:\\"_s] = notReady;
    }

    QStringList drives() override
    {
        if (drivesFail)
            throw std::runtime_error("Нет доступа к списку дисков.");
        return driveList;
    }

    QList<Entry> entries(const QString& folder) override
    {
        asked << folder;
        if (folder == u"X:\\"_s)
            throw 42; // not even a std::exception
        for (const auto& [path, message] : refused) {
            if (path.compare(folder, Qt::CaseInsensitive) == 0)
                throw std::runtime_error(message.toStdString());
        }
        for (const auto& [path, list] : folders) {
            if (path.compare(folder, Qt::CaseInsensitive) == 0)
                return list;
        }
        throw std::runtime_error("Не удается найти указанный путь.");
    }

    QStringList driveList{u"C:\\"_s, u"D:\\"_s, u"E:\\"_s};
    bool drivesFail = false;
    std::map<QString, QList<Entry>> folders;
    std::map<QString, QString> refused;
    QStringList asked;
};

template <typename T> T* part(const QWidget& dialog, const QString& name)
{
    auto* widget = dialog.findChild<T*>(name);
    if (widget == nullptr)
        qFatal("no %s in the dialog", qPrintable(name));
    return widget;
}

QListWidget* entryList(const QWidget& dialog)
{
    return part<QListWidget>(dialog, u"entryList"_s);
}

QStringList shownItems(const QWidget& dialog)
{
    QStringList texts;
    const QListWidget* list = entryList(dialog);
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QString errorShown(const QWidget& dialog)
{
    const auto* label = part<QLabel>(dialog, u"errorLabel"_s);
    return label->isHidden() ? QString() : label->text();
}

void clickItem(const QWidget& dialog, const QString& text, bool twice)
{
    QListWidget* list = entryList(dialog);
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(found.size() == 1, qPrintable(text));
    list->scrollToItem(found.first());
    const QPoint at = list->visualItemRect(found.first()).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    if (twice) {
        // A widget's double click from QTest is the second press alone, as a window system
        // delivers it after the first click.
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    }
}

// As typed; QTest's key clicks know only ASCII.
void typeInto(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    edit->insert(text);
}

// Steps of an operator: "dclick:NAME" and "click:NAME" on the list, "up", "drive:ROOT",
// "folder:PATH" (typed into the folder field, then Return), "name:TEXT", "return:name",
// "return:list", "accept", "cancel", "escape".
void perform(ServerFileDialog& dialog, const QStringList& steps)
{
    for (const QString& step : steps) {
        const QString arg = step.section(u':', 1);
        if (step.startsWith(u"dclick:"_s) || step.startsWith(u"click:"_s)) {
            clickItem(dialog, arg, step.startsWith(u'd'));
        } else if (step == u"up"_s) {
            QTest::mouseClick(part<QPushButton>(dialog, u"upButton"_s), Qt::LeftButton);
        } else if (step.startsWith(u"drive:"_s)) {
            auto* combo = part<QComboBox>(dialog, u"driveCombo"_s);
            const int index = combo->findText(arg);
            QVERIFY2(index >= 0, qPrintable(arg));
            // What picking the entry from the drop-down emits.
            emit combo->activated(index);
        } else if (step.startsWith(u"folder:"_s)) {
            auto* edit = part<QLineEdit>(dialog, u"folderEdit"_s);
            typeInto(edit, arg);
            QTest::keyClick(edit, Qt::Key_Return);
        } else if (step.startsWith(u"name:"_s)) {
            typeInto(part<QLineEdit>(dialog, u"nameEdit"_s), arg);
        } else if (step == u"return:name"_s) {
            QTest::keyClick(part<QLineEdit>(dialog, u"nameEdit"_s), Qt::Key_Return);
        } else if (step == u"return:list"_s) {
            QTest::keyClick(entryList(dialog), Qt::Key_Return);
        } else if (step == u"accept"_s) {
            QTest::mouseClick(part<QPushButton>(dialog, u"acceptButton"_s), Qt::LeftButton);
        } else if (step == u"cancel"_s) {
            QTest::mouseClick(part<QPushButton>(dialog, u"cancelButton"_s), Qt::LeftButton);
        } else if (step == u"escape"_s) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        } else {
            QFAIL(qPrintable(u"unknown step "_s + step));
        }
        if (QTest::currentTestFailed())
            return;
    }
}

OperatorUi::FileDialog request(const QString& folder, const QString& filter = backupFilter,
                               const QString& extension = u"bak"_s)
{
    return {u"Выберите файл"_s, filter, extension, folder, {}};
}

const QStringList drivesShown{u"C:\\"_s, u"D:\\"_s, u"E:\\"_s};

} // namespace

class TestServerFileDialog : public QObject
{
    Q_OBJECT

private slots:
    void absolutePaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("absolute");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("root");

        QTest::newRow("drive") << u"C:\\Backup\\x.bak"_s << true << u"\\"_s << u"C:\\"_s;
        QTest::newRow("drive, forward slashes") << u"d:/x.bak"_s << true << u"\\"_s << u"d:\\"_s;
        QTest::newRow("share") << u"\\\\srv\\share\\x.bak"_s << true << u"\\"_s
                               << u"\\\\srv\\share\\"_s;
        QTest::newRow("linux") << u"/var/opt/x.bak"_s << true << u"/"_s << u"/"_s;
        QTest::newRow("plain name") << u"x.bak"_s << false << u"\\"_s << QString();
        QTest::newRow("relative folder") << u"Old\\x.bak"_s << false << u"\\"_s << QString();
        QTest::newRow("drive-relative") << u"C:x.bak"_s << false << u"\\"_s << u"C:\\"_s;
        QTest::newRow("root of the current drive") << u"\\x.bak"_s << false << u"\\"_s << QString();
        QTest::newRow("digit is no drive") << u"1:\\x.bak"_s << false << u"\\"_s << QString();
        QTest::newRow("empty") << QString() << false << u"\\"_s << QString();
    }
    void absolutePaths()
    {
        QFETCH(QString, path);
        QFETCH(bool, absolute);
        QFETCH(QString, separator);
        QFETCH(QString, root);
        QCOMPARE(serverpath::isAbsolute(path), absolute);
        QCOMPARE(QString(serverpath::separatorOf(path)), separator);
        QCOMPARE(serverpath::rootOf(path), root);
    }

    void normalFolders_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("normal");
        QTest::addColumn<QString>("listing");

        QTest::newRow("trailing separator")
            << u"C:\\Backup\\"_s << u"C:\\Backup"_s << u"C:\\Backup\\"_s;
        QTest::newRow("forward slashes, doubled")
            << u"C:/Backup//"_s << u"C:\\Backup"_s << u"C:\\Backup\\"_s;
        QTest::newRow("root") << u"C:\\"_s << u"C:\\"_s << u"C:\\"_s;
        QTest::newRow("drive alone") << u"C:"_s << u"C:\\"_s << u"C:\\"_s;
        QTest::newRow("share root")
            << u"\\\\srv\\share"_s << u"\\\\srv\\share\\"_s << u"\\\\srv\\share\\"_s;
        QTest::newRow("linux") << u"/var/opt/"_s << u"/var/opt"_s << u"/var/opt/"_s;
        QTest::newRow("linux root") << u"/"_s << u"/"_s << u"/"_s;
        QTest::newRow("nothing") << QString() << QString() << QString();
    }
    void normalFolders()
    {
        QFETCH(QString, folder);
        QFETCH(QString, normal);
        QFETCH(QString, listing);
        QCOMPARE(serverpath::normalFolder(folder), normal);
        QCOMPARE(serverpath::listingPath(folder), listing);
    }

    void parentFolders_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("parent");

        QTest::newRow("two levels") << u"C:\\Backup\\Old"_s << u"C:\\Backup"_s;
        QTest::newRow("trailing separator") << u"C:\\Backup\\Old\\"_s << u"C:\\Backup"_s;
        QTest::newRow("forward slashes") << u"c:/backup/old/"_s << u"c:\\backup"_s;
        QTest::newRow("below a root") << u"C:\\Backup"_s << u"C:\\"_s;
        QTest::newRow("root") << u"C:\\"_s << QString();
        QTest::newRow("drive alone") << u"C:"_s << QString();
        QTest::newRow("in a share") << u"\\\\srv\\share\\dir"_s << u"\\\\srv\\share\\"_s;
        QTest::newRow("share root") << u"\\\\srv\\share\\"_s << QString();
        QTest::newRow("linux") << u"/var/opt"_s << u"/var"_s;
        QTest::newRow("below the linux root") << u"/var"_s << u"/"_s;
        QTest::newRow("linux root") << u"/"_s << QString();
        QTest::newRow("the drives") << QString() << QString();
    }
    void parentFolders()
    {
        QFETCH(QString, folder);
        QFETCH(QString, parent);
        QCOMPARE(serverpath::parentFolder(folder), parent);
    }

    void joinedPaths_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");

        QTest::newRow("folder") << u"C:\\Backup"_s << u"x.bak"_s << u"C:\\Backup\\x.bak"_s;
        QTest::newRow("folder with separator")
            << u"C:\\Backup\\"_s << u"x.bak"_s << u"C:\\Backup\\x.bak"_s;
        QTest::newRow("root") << u"C:\\"_s << u"x.bak"_s << u"C:\\x.bak"_s;
        QTest::newRow("folder with slashes")
            << u"C:/Backup"_s << u"x.bak"_s << u"C:\\Backup\\x.bak"_s;
        QTest::newRow("relative path")
            << u"C:\\Backup"_s << u"Old\\x.bak"_s << u"C:\\Backup\\Old\\x.bak"_s;
        QTest::newRow("absolute name")
            << u"C:\\Backup"_s << u"D:\\Data\\x.bak"_s << u"D:\\Data\\x.bak"_s;
        QTest::newRow("absolute name as typed")
            << u"C:\\Backup"_s << u"d:/data/x.bak"_s << u"d:/data/x.bak"_s;
        QTest::newRow("share name")
            << u"C:\\Backup"_s << u"\\\\srv\\share\\x.bak"_s << u"\\\\srv\\share\\x.bak"_s;
        QTest::newRow("root of the drive")
            << u"C:\\Backup\\Old"_s << u"\\x.bak"_s << u"C:\\x.bak"_s;
        QTest::newRow("root of the share")
            << u"\\\\srv\\share\\dir"_s << u"\\x.bak"_s << u"\\\\srv\\share\\x.bak"_s;
        QTest::newRow("linux") << u"/var/opt/mssql"_s << u"x.bak"_s << u"/var/opt/mssql/x.bak"_s;
        QTest::newRow("linux root") << u"/"_s << u"x.bak"_s << u"/x.bak"_s;
        QTest::newRow("linux absolute name") << u"/var/"_s << u"/tmp/x.bak"_s << u"/tmp/x.bak"_s;
        QTest::newRow("no folder") << QString() << u"x.bak"_s << u"x.bak"_s;
    }
    void joinedPaths()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(serverpath::join(folder, name), path);
    }

    void defaultExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("result");

        QTest::newRow("added") << u"base"_s << u"bak"_s << u"base.bak"_s;
        QTest::newRow("given with a dot") << u"base"_s << u".bak"_s << u"base.bak"_s;
        QTest::newRow("already there") << u"base.BAK"_s << u"bak"_s << u"base.BAK"_s;
        QTest::newRow("another extension") << u"base.old"_s << u"bak"_s << u"base.old"_s;
        QTest::newRow("dot in a folder only")
            << u"C:\\Back.up\\base"_s << u"bak"_s << u"C:\\Back.up\\base.bak"_s;
        QTest::newRow("linux path") << u"/var/x"_s << u"bak"_s << u"/var/x.bak"_s;
        QTest::newRow("no default") << u"base"_s << QString() << u"base"_s;
        QTest::newRow("folder") << u"C:\\Backup\\"_s << u"bak"_s << u"C:\\Backup\\"_s;
    }
    void defaultExtension()
    {
        QFETCH(QString, name);
        QFETCH(QString, extension);
        QFETCH(QString, result);
        QCOMPARE(serverpath::withDefaultExtension(name, extension), result);
    }

    void filters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QStringList>("patterns");

        QTest::newRow("backup") << backupFilter
                                << QStringList{u"Файл резервной копии (*.bak)"_s,
                                               u"Все файлы (*.*)"_s}
                                << QStringList{u"*.bak"_s, u"*.*"_s};
        QTest::newRow("description with its patterns")
            << u"Файл данных|*.MDF|All files (*.*)|*.*"_s
            << QStringList{u"Файл данных (*.MDF)"_s, u"All files (*.*)"_s}
            << QStringList{u"*.MDF"_s, u"*.*"_s};
        QTest::newRow("several patterns")
            << u"Файлы базы|*.mdf; *.ndf"_s << QStringList{u"Файлы базы (*.mdf;*.ndf)"_s}
            << QStringList{u"*.mdf,*.ndf"_s};
        QTest::newRow("description left over")
            << u"Файл резервной копии|*.bak|Лишнее"_s
            << QStringList{u"Файл резервной копии (*.bak)"_s} << QStringList{u"*.bak"_s};
        QTest::newRow("no filter") << QString() << QStringList{} << QStringList{};
    }
    void filters()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, labels);
        QFETCH(QStringList, patterns);
        QStringList shownLabels;
        QStringList shownPatterns;
        for (const serverpath::FileType& type : serverpath::parseFilter(filter)) {
            shownLabels << serverpath::fileTypeLabel(type);
            shownPatterns << type.patterns.join(u',');
        }
        QCOMPARE(shownLabels, labels);
        QCOMPARE(shownPatterns, patterns);
    }

    void wildcards_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<bool>("matches");

        const QStringList bak{u"*.bak"_s};
        QTest::newRow("extension") << u"base.bak"_s << bak << true;
        QTest::newRow("other case") << u"BASE.BAK"_s << bak << true;
        QTest::newRow("pattern in other case") << u"base.bak"_s << QStringList{u"*.BaK"_s} << true;
        QTest::newRow("cyrillic, other case") << u"копия.БАК"_s << QStringList{u"*.бак"_s} << true;
        QTest::newRow("extension not last") << u"base.bak.old"_s << bak << false;
        QTest::newRow("no dot") << u"basebak"_s << bak << false;
        QTest::newRow("all files, no dot") << u"README"_s << QStringList{u"*.*"_s} << true;
        QTest::newRow("star") << u"README"_s << QStringList{u"*"_s} << true;
        QTest::newRow("second pattern")
            << u"x.mdf"_s << QStringList{u"*.ldf"_s, u"*.mdf"_s} << true;
        QTest::newRow("neither pattern")
            << u"x.ndf"_s << QStringList{u"*.ldf"_s, u"*.mdf"_s} << false;
        QTest::newRow("one character") << u"a1.bak"_s << QStringList{u"a?.bak"_s} << true;
        QTest::newRow("one character only") << u"a12.bak"_s << QStringList{u"a?.bak"_s} << false;
        QTest::newRow("stars inside")
            << u"base_2024_01.bak"_s << QStringList{u"base*2024*.bak"_s} << true;
        QTest::newRow("star must backtrack") << u"abab.b"_s << QStringList{u"*ab.b"_s} << true;
        QTest::newRow("no patterns") << u"x.txt"_s << QStringList{} << true;
    }
    void wildcards()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, patterns);
        QFETCH(bool, matches);
        QCOMPARE(serverpath::matchesAny(name, patterns), matches);
    }

    void opensAtStartFolder_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("typeIndex");
        QTest::addColumn<QString>("shownTitle");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("acceptText");
        QTest::addColumn<QString>("name");

        const QStringList backups{u"Old"_s, u"base.bak"_s, u"BASE2.BAK"_s};
        QTest::newRow("open, backups")
            << int(Choice::OpenFile) << u"Укажите резервную копию"_s << 0
            << u"Укажите резервную копию"_s << backups << u"Открыть"_s << u"base.bak"_s;
        QTest::newRow("open, all files")
            << int(Choice::OpenFile) << QString() << 1 << u"Открыть"_s
            << QStringList{u"Old"_s, u"base.bak"_s, u"BASE2.BAK"_s, u"notes.txt"_s, u"README"_s}
            << u"Открыть"_s << u"base.bak"_s;
        QTest::newRow("save") << int(Choice::SaveFile) << QString() << 0 << u"Сохранить как"_s
                              << backups << u"Сохранить"_s << u"base.bak"_s;
        QTest::newRow("folder") << int(Choice::Folder) << QString() << 0 << u"Выбор папки"_s
                                << QStringList{u"Old"_s} << u"Выбрать"_s << u"C:\\Backup"_s;
    }
    void opensAtStartFolder()
    {
        QFETCH(int, kind);
        QFETCH(QString, title);
        QFETCH(int, typeIndex);
        QFETCH(QString, shownTitle);
        QFETCH(QStringList, items);
        QFETCH(QString, acceptText);
        QFETCH(QString, name);

        FakeServer server;
        const OperatorUi::FileDialog start{title, backupFilter, u"bak"_s, u"C:\\Backup\\"_s,
                                           u"base.bak"_s};
        ServerFileDialog dialog(Choice(kind), start, server);
        part<QComboBox>(dialog, u"typeCombo"_s)->setCurrentIndex(typeIndex);

        QCOMPARE(dialog.windowTitle(), shownTitle);
        QCOMPARE(dialog.currentFolder(), u"C:\\Backup"_s);
        QCOMPARE(part<QLineEdit>(dialog, u"folderEdit"_s)->text(), u"C:\\Backup"_s);
        QCOMPARE(part<QComboBox>(dialog, u"driveCombo"_s)->currentText(), u"C:\\"_s);
        QCOMPARE(shownItems(dialog), items);
        QCOMPARE(part<QPushButton>(dialog, u"acceptButton"_s)->text(), acceptText);
        QCOMPARE(part<QPushButton>(dialog, u"cancelButton"_s)->text(), u"Отмена"_s);
        QCOMPARE(part<QLineEdit>(dialog, u"nameEdit"_s)->text(), name);
        QCOMPARE(part<QComboBox>(dialog, u"typeCombo"_s)->isHidden(), kind == int(Choice::Folder));
        QCOMPARE(errorShown(dialog), QString());
        QCOMPARE(server.asked, QStringList{u"C:\\Backup\\"_s});
    }

    void navigates_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("error");

        const QString backup = u"C:\\Backup"_s;
        const QStringList backupItems{u"Old"_s, u"base.bak"_s, u"BASE2.BAK"_s, u"notes.txt"_s,
                                      u"README"_s};
        const QStringList rootItems{u"Backup"_s, u"Program Files"_s, u"pagefile.sys"_s};
        const QStringList oldItems{u"old.bak"_s};
        const QStringList dataItems{u"x.mdf"_s, u"x_log.ldf"_s};

        QTest::newRow("into a folder") << backup << QStringList{u"dclick:Old"_s}
                                       << u"C:\\Backup\\Old"_s << oldItems << QString();
        QTest::newRow("into and up again") << backup << QStringList{u"dclick:Old"_s, u"up"_s}
                                           << backup << backupItems << QString();
        QTest::newRow("up to the root")
            << backup << QStringList{u"up"_s} << u"C:\\"_s << rootItems << QString();
        QTest::newRow("above the root the drives")
            << backup << QStringList{u"up"_s, u"up"_s} << QString() << drivesShown << QString();
        QTest::newRow("a drive from the drives")
            << backup << QStringList{u"up"_s, u"up"_s, u"dclick:D:\\"_s} << u"D:\\"_s
            << QStringList{u"Data"_s} << QString();
        QTest::newRow("the drive list") << backup << QStringList{u"drive:D:\\"_s} << u"D:\\"_s
                                        << QStringList{u"Data"_s} << QString();
        QTest::newRow("Return in the list")
            << backup << QStringList{u"click:Old"_s, u"return:list"_s} << u"C:\\Backup\\Old"_s
            << oldItems << QString();
        QTest::newRow("typed folder") << backup << QStringList{u"folder:d:/data/"_s}
                                      << u"d:\\data"_s << dataItems << QString();
        QTest::newRow("folder named as a file") << backup << QStringList{u"name:old"_s, u"accept"_s}
                                                << u"C:\\Backup\\old"_s << oldItems << QString();
        QTest::newRow("folder typed with a separator")
            << backup << QStringList{u"name:D:\\Data\\"_s, u"return:name"_s} << u"D:\\Data"_s
            << dataItems << QString();
        QTest::newRow("two dots") << backup << QStringList{u"name:.."_s, u"accept"_s} << u"C:\\"_s
                                  << rootItems << QString();
        QTest::newRow("a linux server")
            << u"/var/opt/mssql/"_s << QStringList{u"dclick:data"_s} << u"/var/opt/mssql/data"_s
            << QStringList{u"db.bak"_s} << QString();
        QTest::newRow("a drive that refuses")
            << backup << QStringList{u"drive:E:\\"_s} << QString() << drivesShown << notReady;
        QTest::newRow("a folder that is not there")
            << backup << QStringList{u"folder:C:\\Nowhere"_s} << QString() << drivesShown
            << u"Не удается найти указанный путь."_s;
        QTest::newRow("a refusal, then a good drive")
            << backup << QStringList{u"drive:E:\\"_s, u"dclick:C:\\"_s} << u"C:\\"_s << rootItems
            << QString();
        QTest::newRow("not even a std::exception")
            << backup << QStringList{u"folder:X:\\"_s} << QString() << drivesShown
            << u"Сервер не ответил."_s;
    }
    void navigates()
    {
        QFETCH(QString, start);
        QFETCH(QStringList, steps);
        QFETCH(QString, folder);
        QFETCH(QStringList, items);
        QFETCH(QString, error);

        FakeServer server;
        ServerFileDialog dialog(Choice::OpenFile, request(start, u"Все файлы|*.*"_s), server);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        perform(dialog, steps);
        if (QTest::currentTestFailed())
            return;

        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.currentFolder(), folder);
        QCOMPARE(part<QLineEdit>(dialog, u"folderEdit"_s)->text(), folder);
        QCOMPARE(part<QPushButton>(dialog, u"upButton"_s)->isEnabled(), !folder.isEmpty());
        QCOMPARE(shownItems(dialog), items);
        QCOMPARE(errorShown(dialog), error);
    }

    void answers_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("result"); // QDialog::DialogCode, or -1 while still open
        QTest::addColumn<QString>("path");

        const int open = int(Choice::OpenFile);
        const int save = int(Choice::SaveFile);
        const int folder = int(Choice::Folder);
        const int accepted = QDialog::Accepted;
        const int rejected = QDialog::Rejected;
        const int stillOpen = -1;
        const QString backup = u"C:\\Backup\\"_s;

        QTest::newRow("double-click on a file")
            << open << backup << QStringList{u"dclick:base.bak"_s} << accepted
            << u"C:\\Backup\\base.bak"_s;
        QTest::newRow("a file clicked, then the button")
            << open << backup << QStringList{u"click:BASE2.BAK"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\BASE2.BAK"_s;
        QTest::newRow("a name not listed, Return")
            << open << backup << QStringList{u"name:other.bak"_s, u"return:name"_s} << accepted
            << u"C:\\Backup\\other.bak"_s;
        QTest::newRow("a relative path")
            << open << backup << QStringList{u"name:Old\\old.bak"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\Old\\old.bak"_s;
        QTest::newRow("an absolute path")
            << open << backup << QStringList{u"name:D:\\Data\\x.mdf"_s, u"accept"_s} << accepted
            << u"D:\\Data\\x.mdf"_s;
        QTest::newRow("an absolute path with slashes")
            << open << backup << QStringList{u"name:d:/data/x.mdf"_s, u"accept"_s} << accepted
            << u"d:/data/x.mdf"_s;
        QTest::newRow("a share path")
            << open << backup << QStringList{u"name:\\\\srv\\share\\x.bak"_s, u"accept"_s}
            << accepted << u"\\\\srv\\share\\x.bak"_s;
        QTest::newRow("open adds no extension")
            << open << backup << QStringList{u"name:other"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\other"_s;
        QTest::newRow("an empty name")
            << open << backup << QStringList{u"name:"_s, u"accept"_s} << stillOpen << QString();
        QTest::newRow("only blanks")
            << open << backup << QStringList{u"name:   "_s, u"return:name"_s} << stillOpen
            << QString();
        QTest::newRow("a relative name over the drives")
            << open << QString() << QStringList{u"name:x.bak"_s, u"accept"_s} << stillOpen
            << QString();
        QTest::newRow("an absolute name over the drives")
            << open << QString() << QStringList{u"name:D:\\x.bak"_s, u"accept"_s} << accepted
            << u"D:\\x.bak"_s;
        QTest::newRow("save adds the extension")
            << save << backup << QStringList{u"name:Новая копия"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\Новая копия.bak"_s;
        QTest::newRow("save keeps an extension")
            << save << backup << QStringList{u"name:new.BAK"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\new.BAK"_s;
        QTest::newRow("save, absolute path")
            << save << backup << QStringList{u"name:D:\\Data\\copy"_s, u"accept"_s} << accepted
            << u"D:\\Data\\copy.bak"_s;
        QTest::newRow("save on a linux server")
            << save << u"/var/opt/mssql/data"_s << QStringList{u"name:copy"_s, u"accept"_s}
            << accepted << u"/var/opt/mssql/data/copy.bak"_s;
        QTest::newRow("open on a linux server")
            << open << u"/var/opt/mssql/data/"_s << QStringList{u"dclick:db.bak"_s} << accepted
            << u"/var/opt/mssql/data/db.bak"_s;
        QTest::newRow("folder: the current one")
            << folder << backup << QStringList{u"accept"_s} << accepted << u"C:\\Backup"_s;
        QTest::newRow("folder: the one clicked")
            << folder << backup << QStringList{u"click:Old"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\Old"_s;
        QTest::newRow("folder: the one entered")
            << folder << backup << QStringList{u"dclick:Old"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\Old"_s;
        QTest::newRow("folder: a root")
            << folder << backup << QStringList{u"up"_s, u"accept"_s} << accepted << u"C:\\"_s;
        QTest::newRow("folder: a drive clicked")
            << folder << backup << QStringList{u"up"_s, u"up"_s, u"click:D:\\"_s, u"return:name"_s}
            << accepted << u"D:\\"_s;
        QTest::newRow("folder: nothing over the drives")
            << folder << backup << QStringList{u"up"_s, u"up"_s, u"accept"_s} << stillOpen
            << QString();
        QTest::newRow("folder: a new one typed")
            << folder << backup << QStringList{u"name:Новая папка\\"_s, u"accept"_s} << accepted
            << u"C:\\Backup\\Новая папка"_s;
        QTest::newRow("folder on a linux server")
            << folder << u"/var/opt/mssql/data/"_s << QStringList{u"up"_s, u"accept"_s} << accepted
            << u"/var/opt/mssql"_s;
        QTest::newRow("cancel") << open << backup << QStringList{u"click:base.bak"_s, u"cancel"_s}
                                << rejected << QString();
        QTest::newRow("escape") << save << backup << QStringList{u"name:x"_s, u"escape"_s}
                                << rejected << QString();
    }
    void answers()
    {
        QFETCH(int, kind);
        QFETCH(QString, start);
        QFETCH(QStringList, steps);
        QFETCH(int, result);
        QFETCH(QString, path);

        FakeServer server;
        ServerFileDialog dialog(Choice(kind), request(start), server);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        perform(dialog, steps);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(dialog.isVisible(), result == -1);
        if (result != -1)
            QCOMPARE(dialog.result(), result);
        QCOMPARE(dialog.chosenPath(), path);
    }

    void startFails_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("drivesFail");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("error");

        QTest::newRow("refused") << u"E:\\Backup\\"_s << false << QString() << drivesShown
                                 << u"Не удается найти указанный путь."_s;
        QTest::newRow("drive not ready")
            << u"e:\\"_s << false << QString() << drivesShown << notReady;
        QTest::newRow("not a server path") << u"Backup"_s << false << QString() << drivesShown
                                           << u"Не удается найти указанный путь."_s;
        QTest::newRow("no start folder")
            << QString() << false << QString() << drivesShown << QString();
        QTest::newRow("no drives either")
            << u"E:\\"_s << true << QString() << QStringList{} << notReady;
        QTest::newRow("no drives, a good folder")
            << u"C:\\Backup"_s << true << u"C:\\Backup"_s << QStringList{u"Old"_s}
            << u"Нет доступа к списку дисков."_s;
        QTest::newRow("no drives, no folder")
            << QString() << true << QString() << QStringList{} << u"Нет доступа к списку дисков."_s;
    }
    void startFails()
    {
        QFETCH(QString, start);
        QFETCH(bool, drivesFail);
        QFETCH(QString, folder);
        QFETCH(QStringList, items);
        QFETCH(QString, error);

        FakeServer server;
        server.drivesFail = drivesFail;
        ServerFileDialog dialog(Choice::Folder, request(start), server);
        QCOMPARE(dialog.currentFolder(), folder);
        QCOMPARE(shownItems(dialog), items);
        QCOMPARE(errorShown(dialog), error);
    }

    // The window's operator interface runs the dialog modally over its window.
    void windowOperator_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("answer"); // empty: none

        QTest::newRow("chosen") << u"copy"_s << true << u"C:\\Backup\\copy.bak"_s;
        QTest::newRow("cancelled") << u"copy"_s << false << QString();
    }
    void windowOperator()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accept);
        QFETCH(QString, answer);

        QWidget window;
        QtOperatorUi ui;
        ui.setParentWindow(&window);
        FakeServer server;
        QWidget* parentSeen = nullptr;
        QTimer::singleShot(0, qApp, [&] {
            auto* dialog = qobject_cast<ServerFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return; // the check below fails: no answer, no parent
            parentSeen = dialog->parentWidget();
            perform(*dialog, {u"name:"_s + typed, accept ? u"accept"_s : u"cancel"_s});
            if (dialog->isVisible())
                dialog->reject();
        });
        const std::optional<QString> chosen =
            ui.chooseOnServer(Choice::SaveFile, request(u"C:\\Backup"_s), server);
        QCOMPARE(parentSeen, &window);
        QCOMPARE(chosen.has_value(), !answer.isEmpty());
        if (chosen)
            QCOMPARE(*chosen, answer);
    }
};

QTEST_MAIN(TestServerFileDialog)
#include "tst_serverfiledialog.moc"
