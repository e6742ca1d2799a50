// Qt's own texts in the program's boxes, dialogs and edit menus come from Qt's Russian
// translation, whatever the system's language (the tests run under C.UTF-8). The expected texts
// are those of qtbase_ru.qm.
#include "GuiFixture.h"
#include "OperatorUi.h"
#include "QtOperatorUi.h"

#include <QAbstractButton>
#include <QAbstractFileIconProvider>
#include <QAbstractProxyModel>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <functional>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

// Runs inspect on the modal dialog that open() shows, once it is up. inspect closes the dialog
// and only records what it saw: a failed check inside it would leave the dialog open for good.
void whileShown(const std::function<void()>& open, const std::function<void(QWidget*)>& inspect)
{
    // Queued before open() enters the dialog's event loop, so it runs once the dialog is shown.
    QTimer::singleShot(0, qApp, [inspect] { inspect(QApplication::activeModalWidget()); });
    open();
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// What a file dialog showed.
struct FileDialogTexts
{
    QString acceptButton;
    QString rejectButton;
    QString fileNameLabel;
    QString fileTypeLabel;
    QString lookInLabel;
    QStringList toolTips; // of its tool buttons, sorted
    QString nameColumn;
    QString folderType; // the type column's entry of a folder
};

// Found by Qt's public interface and by type: the names of a dialog's parts are Qt's own.
QDialogButtonBox* buttonBoxOf(const QFileDialog& dialog)
{
    return dialog.findChild<QDialogButtonBox*>();
}

FileDialogTexts textsOf(const QFileDialog& dialog, const QString& folder)
{
    FileDialogTexts t;
    if (const QDialogButtonBox* box = buttonBoxOf(dialog)) {
        for (QAbstractButton* button : box->buttons()) {
            if (box->buttonRole(button) == QDialogButtonBox::AcceptRole)
                t.acceptButton = button->text();
            else if (box->buttonRole(button) == QDialogButtonBox::RejectRole)
                t.rejectButton = button->text();
        }
    }
    t.fileNameLabel = dialog.labelText(QFileDialog::FileName);
    t.fileTypeLabel = dialog.labelText(QFileDialog::FileType);
    t.lookInLabel = dialog.labelText(QFileDialog::LookIn);
    for (const QToolButton* button : dialog.findChildren<QToolButton*>())
        if (!button->toolTip().isEmpty())
            t.toolTips << button->toolTip();
    t.toolTips.sort();
    if (const auto* tree = dialog.findChild<QTreeView*>(); tree && tree->model())
        t.nameColumn = tree->model()->headerData(0, Qt::Horizontal).toString();
    if (const QAbstractFileIconProvider* icons = dialog.iconProvider())
        t.folderType = icons->type(QFileInfo(folder));
    return t;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    // The detach question and the default error report, as the window shows them.
    void messageBoxes_data()
    {
        QTest::addColumn<bool>("question");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("answer");
        const QStringList yesNo{u"&Да"_s, u"&Нет"_s};
        QTest::newRow("question answered yes") << true << u"&Да"_s << yesNo << true;
        QTest::newRow("question answered no") << true << u"&Нет"_s << yesNo << false;
        QTest::newRow("error report") << false << u"OK"_s << QStringList{u"OK"_s} << false;
    }
    void messageBoxes()
    {
        QFETCH(bool, question);
        QFETCH(QString, press);
        QFETCH(QStringList, buttons);
        QFETCH(bool, answer);
        QWidget window;
        window.show();
        QtOperatorUi ui;
        ui.setParentWindow(&window);

        QStringList shown;
        QString boxText;
        bool ownedByWindow = false;
        bool pressed = false;
        const auto inspect = [&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box == nullptr)
                return;
            boxText = box->text();
            ownedByWindow = box->parentWidget() == &window;
            for (QAbstractButton* button : box->buttons()) {
                shown << button->text();
                if (button->text() == press && !pressed) {
                    pressed = true;
                    button->click();
                }
            }
            if (!pressed)
                box->reject();
        };
        bool result = false;
        if (question) {
            whileShown(
                [&] {
                    result = ui.askYesNo(OperatorUi::Icon::Question, u"Вынимание"_s,
                                         u"Вы действительно хотете отключить базу данных "
                                         u"\"ostrel_ts\"?"_s);
                },
                inspect);
            QCOMPARE(boxText, u"Вы действительно хотете отключить базу данных \"ostrel_ts\"?"_s);
        } else {
            whileShown([&] { ShowErrorReport(ui, std::runtime_error("Нет связи с сервером")); },
                       inspect);
            QCOMPARE(boxText, u"Нет связи с сервером."_s);
        }
        QCOMPARE(sorted(shown), sorted(buttons));
        QVERIFY(ownedByWindow);
        QVERIFY2(pressed, qPrintable(shown.join(u", "_s)));
        QCOMPARE(result, answer);
    }

    // A question of three answers: the buttons as given, the first the default, Esc the last.
    void choiceBox_data()
    {
        QTest::addColumn<QString>("press"); // empty: Esc
        QTest::addColumn<int>("answer");
        QTest::newRow("second") << u"Отменить"_s << 1;
        QTest::newRow("Esc") << QString() << 2;
    }
    void choiceBox()
    {
        QFETCH(QString, press);
        QFETCH(int, answer);
        QtOperatorUi ui;
        const QStringList buttons{u"Сохранить"_s, u"Отменить"_s, u"Вернуться"_s};
        QStringList shown;
        int result = -1;
        const auto ask = [&] {
            result = ui.askChoice(OperatorUi::Icon::Question, {}, {}, buttons);
        };
        whileShown(ask, [&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            for (QAbstractButton* button : box->buttons())
                shown << button->text() + (button == box->defaultButton() ? u"*"_s : QString());
            if (press.isEmpty())
                QTest::keyClick(box, Qt::Key_Escape);
            for (QAbstractButton* button : box->buttons())
                if (button->text() == press)
                    button->click();
        });
        QCOMPARE(sorted(shown), (QStringList{u"Вернуться"_s, u"Отменить"_s, u"Сохранить*"_s}));
        QCOMPARE(result, answer);
    }

    // The backup file, the data file and the restore folder, each chosen by a typed name.
    void fileDialogs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("accept");
        QTest::addColumn<QString>("fileNameLabel");
        QTest::addColumn<QString>("chosen"); // relative to the starting folder
        QTest::newRow("save backup")
            << u"save"_s << u"копия"_s << u"&Сохранить"_s << u"&Имя файла:"_s << u"копия.bak"_s;
        QTest::newRow("open data file")
            << u"open"_s << u"база.mdf"_s << u"&Открыть"_s << u"&Имя файла:"_s << u"база.mdf"_s;
        QTest::newRow("restore folder")
            << u"folder"_s << u"данные"_s << u"&Выбрать"_s << u"Каталог:"_s << u"данные"_s;
    }
    void fileDialogs()
    {
        QFETCH(QString, kind);
        QFETCH(QString, typed);
        QFETCH(QString, accept);
        QFETCH(QString, fileNameLabel);
        QFETCH(QString, chosen);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeFile(dir.filePath(u"база.mdf"_s), "data"));
        QVERIFY(QDir(dir.path()).mkdir(u"данные"_s));
        QWidget window;
        window.show();
        QtOperatorUi ui;
        ui.setParentWindow(&window);

        FileDialogTexts texts;
        bool seen = false;
        const auto inspect = [&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr)
                return;
            seen = true;
            texts = textsOf(*dialog, dir.filePath(u"данные"_s));
            QDialogButtonBox* box = buttonBoxOf(*dialog);
            QAbstractButton* acceptButton = nullptr;
            for (QAbstractButton* button :
                 box != nullptr ? box->buttons() : QList<QAbstractButton*>())
                if (box->buttonRole(button) == QDialogButtonBox::AcceptRole)
                    acceptButton = button;
            if (acceptButton == nullptr) {
                dialog->reject();
                return;
            }
            dialog->selectFile(typed); // as typed into its name field
            acceptButton->click();
            if (dialog->isVisible())
                dialog->reject(); // refused the name: the result tells
        };
        std::optional<QString> result;
        whileShown(
            [&] {
                if (kind == u"save"_s)
                    result = ui.chooseSaveFile({u"Укажите имя файла для резервной копии"_s,
                                                u"Файл резервной копии|*.bak|Все файлы|*.*"_s,
                                                u"bak"_s, dir.path(), QString()});
                else if (kind == u"open"_s)
                    result =
                        ui.chooseOpenFile({QString(), u"Файл данных|*.MDF|All files (*.*)|*.*"_s,
                                           u"sql"_s, dir.path(), QString()});
                else
                    result = ui.chooseFolder(u"Папка для файлов базы"_s, dir.path());
            },
            inspect);
        QVERIFY(seen);
        QCOMPARE(texts.acceptButton, accept);
        QCOMPARE(texts.rejectButton, u"Отмена"_s);
        QCOMPARE(texts.fileNameLabel, fileNameLabel);
        QCOMPARE(texts.lookInLabel, u"Перейти к:"_s);
        if (kind != u"folder"_s)
            QCOMPARE(texts.fileTypeLabel, u"Типы файлов:"_s);
        QCOMPARE(texts.toolTips, sorted({u"Назад"_s, u"Вперёд"_s, u"Родительский каталог"_s,
                                         u"Создать папку"_s, u"Список"_s, u"Подробный вид"_s}));
        QCOMPARE(texts.nameColumn, u"Имя"_s);
        QCOMPARE(texts.folderType, u"Папка"_s);
        QCOMPARE(result, std::optional<QString>(dir.filePath(chosen)));
    }

    // Qt's parts of a file dialog in Russian under the C locale the tests run in: the types as the
    // program names them ("*.*" takes a name without a dot too), a file's type and its date.
    void fileDialogDetails_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("types");
        QTest::newRow("data file") << u"Файл данных|*.MDF|Все файлы (*.*)|*.*"_s
                                   << QStringList{u"Файл данных (*.MDF)"_s, u"Все файлы (*.*)"_s};
        QTest::newRow("export") << u"Microsoft Excel|*.xls|Все файлы|*.*"_s
                                << QStringList{u"Microsoft Excel (*.xls)"_s, u"Все файлы (*.*)"_s};
    }
    void fileDialogDetails()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, types);
        if (QLocale::system().language() != QLocale::C)
            QSKIP("the system has regional settings of its own; the dialog follows them");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"копия.bak"_s);
        QVERIFY(writeFile(path, "backup"));
        QCOMPARE(QProcess::execute(u"touch"_s, {u"-d"_s, u"2024-02-05 10:15"_s, path}), 0);
        QtOperatorUi ui;
        QStringList shown;
        QList<bool> takesNameWithoutDot;
        QStringList cells;
        const auto inspect = [&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            const auto* files = dialog->findChild<QFileSystemModel*>();
            const auto* combo = dialog->findChild<QComboBox*>(u"fileTypeCombo"_s);
            for (int i = 0; i < combo->count(); ++i)
                shown << combo->itemText(i);
            for (const QString& type : dialog->nameFilters()) {
                dialog->selectNameFilter(type);
                takesNameWithoutDot << QDir::match(files->nameFilters(), u"журнал"_s);
            }
            // The type and date cells as the detail view shows them.
            const auto* proxy =
                qobject_cast<QAbstractProxyModel*>(dialog->findChild<QTreeView*>()->model());
            for (const int column : {2, 3}) {
                const QModelIndex index = files->index(path, column);
                cells << (proxy != nullptr ? proxy->mapFromSource(index) : index).data().toString();
            }
            dialog->reject();
        };
        whileShown(
            [&] {
                ui.chooseOpenFile({QString(), filter, u"sql"_s, dir.path(), {}});
            },
            inspect);
        QCOMPARE(shown, types);
        QCOMPARE(takesNameWithoutDot, (QList<bool>{false, true}));
        QCOMPARE(cells, (QStringList{u"Файл bak"_s, u"05.02.2024 10:15"_s}));
        QCOMPARE(QLocale().language(), QLocale::C); // the console's regional settings stay
    }

    // The menu of a text field's right click: the window's fields and the console's text.
    void editMenus_data()
    {
        QTest::addColumn<bool>("lineEdit");
        QTest::newRow("field") << true;
        QTest::newRow("console text") << false;
    }
    void editMenus()
    {
        QFETCH(bool, lineEdit);
        QLineEdit field(u"ostrel_ts"_s);
        QPlainTextEdit text(u"select * from orders"_s);
        std::unique_ptr<QMenu> menu(lineEdit ? field.createStandardContextMenu()
                                             : text.createStandardContextMenu());
        QVERIFY(menu);
        QStringList actions;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator())
                actions << action->text().section(u'\t', 0, 0); // without the shortcut
        }
        QCOMPARE(actions,
                 (QStringList{u"&Отменить действие"_s, u"&Повторить действие"_s, u"&Вырезать"_s,
                              u"&Копировать"_s, u"В&ставить"_s, u"Удалить"_s, u"Выделить всё"_s}));
    }
};

DBSETUP_GUI_TEST_MAIN(TestTranslations)
#include "tst_translations.moc"
