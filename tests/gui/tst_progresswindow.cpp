#include "FStatus.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString backupTitle = u"Создается резервная копия базы данных."_s;
const QString restoreTitle = u"Восстанавливается резервная копия базы данных."_s;
const QString longTitle = u"Восстанавливается резервная копия базы данных ostrel_ts из файла "
                          u"ostrel_ts_backup.bak в папку на диске сервера; дождитесь окончания."_s;

QLabel* titleLabel(const TFormStatus& form)
{
    return form.findChild<QLabel*>(u"LTitle"_s);
}

QProgressBar* progressBar(const TFormStatus& form)
{
    return form.findChild<QProgressBar*>(u"ProgressBar"_s);
}

// The text as one unwrapped line.
int lineWidth(const QFontMetrics& metrics, const QString& text)
{
    return metrics.boundingRect(QRect(0, 0, 100000, 1000), Qt::AlignLeft, text).width();
}

// The text wrapped at word boundaries into a 400-pixel column.
QRect wrappedRect(const QFontMetrics& metrics, const QString& text)
{
    return metrics.boundingRect(QRect(0, 0, 400, 100000), Qt::AlignLeft | Qt::TextWordWrap, text);
}

// The window laid out around its label: bar 20 pixels below it, 20-pixel margins right and below.
void checkFrameAroundLabel(const TFormStatus& form)
{
    const QLabel* label = titleLabel(form);
    const QProgressBar* bar = progressBar(form);
    QCOMPARE(label->pos(), QPoint(8, 8));
    QCOMPARE(bar->geometry(), QRect(8, label->y() + label->height() + 20, label->width(), 17));
    QCOMPARE(form.size(), QSize(label->width() + 20, bar->y() + bar->height() + 20));
}

} // namespace

class TestProgressWindow : public QObject
{
    Q_OBJECT

private slots:
    void createdHidden()
    {
        TFormStatus form;
        QVERIFY(!form.isVisible());
        QCOMPARE(form.windowTitle(), u"Идет выполнение..."_s);
        const Qt::WindowFlags flags = form.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(flags & Qt::CustomizeWindowHint);
        QVERIFY(!(flags & Qt::WindowSystemMenuHint));
        QVERIFY(!(flags & Qt::WindowCloseButtonHint));
        QVERIFY(!(flags & Qt::WindowMinMaxButtonsHint));
        QCOMPARE(form.font().family(), u"Tahoma"_s);
        QCOMPARE(form.font().pixelSize(), 11);

        const QLabel* label = titleLabel(form);
        QVERIFY(label != nullptr);
        QCOMPARE(label->font().family(), u"Arial"_s);
        QCOMPARE(label->font().pixelSize(), 12);
        QVERIFY(label->wordWrap());
        QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

        const QProgressBar* bar = progressBar(form);
        QVERIFY(bar != nullptr);
        // Range 0..0 is the endless busy animation.
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 0);
        QCOMPARE(bar->x(), 8);
        QCOMPARE(bar->height(), 17);
    }

    void layout_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("wraps");

        QTest::newRow("one word") << u"Ждите"_s << false;
        QTest::newRow("backup") << backupTitle << false;
        QTest::newRow("restore") << restoreTitle << false;
        QTest::newRow("long") << longTitle << true;
        QTest::newRow("word wider than 400")
            << (u"Копия "_s + QString(120, u'Ж') + u" готовится"_s) << true;
        QTest::newRow("markup shown as text") << u"<b>база</b> & <i>копия</i>"_s << false;
    }

    void layout()
    {
        QFETCH(QString, title);
        QFETCH(bool, wraps);

        QWidget mainForm;
        mainForm.setGeometry(50, 40, 700, 500);
        TFormStatus form;
        form.StartOperation(title, &mainForm);
        QVERIFY(form.isVisible());

        const QLabel* label = titleLabel(form);
        QCOMPARE(label->text(), title);
        const QFontMetrics metrics(label->font());
        const QRect wrapped = wrappedRect(metrics, title);
        QCOMPARE(label->size(), wrapped.size());
        // The label itself needs no more lines at that width: nothing is cut off.
        QCOMPARE(label->heightForWidth(label->width()), label->height());
        checkFrameAroundLabel(form);

        const QStringList words = title.split(u' ', Qt::SkipEmptyParts);
        int widestWord = 0;
        for (const QString& word : words)
            widestWord = std::max(widestWord, lineWidth(metrics, word));
        if (wraps) {
            QVERIFY(label->height() >= 2 * metrics.height());
            QCOMPARE_LE(label->width(), std::max(400, widestWord));
            QCOMPARE_GE(label->width(), widestWord);
            if (widestWord > 400)
                QCOMPARE(label->width(), widestWord);
        } else {
            // Just wide enough for the title: 8 pixels left, 12 right.
            QCOMPARE(label->height(), metrics.height());
            QCOMPARE(label->width(), lineWidth(metrics, title));
            QCOMPARE(form.width(), lineWidth(metrics, title) + 20);
        }
        form.FinishOperation();
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("mainGeometry");
        QTest::addColumn<bool>("fitsCentred");

        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QTest::newRow("centred") << screen.adjusted(40, 30, -60, -50) << true;
        // The main window's centre lies beyond the screen's bottom-right corner.
        QTest::newRow("kept on screen")
            << QRect(screen.right() - 100, screen.bottom() - 100, 600, 400) << false;
    }

    void placement()
    {
        QFETCH(QRect, mainGeometry);
        QFETCH(bool, fitsCentred);
        QWidget mainForm;
        mainForm.setGeometry(mainGeometry);
        TFormStatus form;
        form.StartOperation(restoreTitle, &mainForm);

        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect placed(form.pos(), form.size());
        QVERIFY(screen.contains(placed));
        if (fitsCentred) {
            QCOMPARE_LE(std::abs(placed.center().x() - mainGeometry.center().x()), 1);
            QCOMPARE_LE(std::abs(placed.center().y() - mainGeometry.center().y()), 1);
        } else {
            QCOMPARE(placed.bottomRight(), screen.bottomRight());
        }
        form.FinishOperation();
    }

    void startWithoutMainWindowDoesNothing()
    {
        QWidget other;
        other.show();
        TFormStatus form;
        form.StartOperation(backupTitle, nullptr);
        QVERIFY(!form.isVisible());
        QVERIFY(other.isEnabled());
        // Nothing was recorded, so a finish touches nothing either.
        other.setEnabled(false);
        form.FinishOperation();
        QVERIFY(!other.isEnabled());
    }

    void paintedBeforeMainWindowIsDisabled()
    {
        QWidget mainForm;
        TFormStatus form;
        bool ran = false;
        bool visibleThen = false;
        bool mainEnabledThen = false;
        QMetaObject::invokeMethod(
            &form,
            [&] {
                ran = true;
                visibleThen = form.isVisible();
                mainEnabledThen = mainForm.isEnabled();
            },
            Qt::QueuedConnection);
        form.StartOperation(backupTitle, &mainForm);
        QVERIFY(ran);
        QVERIFY(visibleThen);
        QVERIFY(mainEnabledThen);
        QVERIFY(!mainForm.isEnabled());
        QVERIFY(!form.isModal());
        QCOMPARE(form.windowModality(), Qt::NonModal);
        form.FinishOperation();
    }

    void closeRefusedDuringOperation()
    {
        QWidget mainForm;
        mainForm.show();
        TFormStatus form;
        form.StartOperation(backupTitle, &mainForm);
        QVERIFY(!mainForm.isEnabled());

        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        QVERIFY(!mainForm.isEnabled());

        form.FinishOperation();
        QVERIFY(!form.isVisible());
        QVERIFY(mainForm.isEnabled());
    }

    void finishHidesWithoutDestroying()
    {
        QWidget mainForm;
        QPointer<TFormStatus> form = new TFormStatus;
        form->StartOperation(backupTitle, &mainForm);
        form->FinishOperation();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!form.isNull());
        QVERIFY(!form->isVisible());
        QVERIFY(mainForm.isEnabled());
        delete form.data();
    }

    // The server's percentage in the bar; cleared back to the endless bar, also by the next
    // operation.
    void serverPercentInTheBar()
    {
        QWidget mainForm;
        TFormStatus form;
        form.StartOperation(restoreTitle, &mainForm);
        auto* bar = form.findChild<QProgressBar*>(u"ProgressBar"_s);
        QCOMPARE(bar->maximum(), 0); // endless until the server says
        form.ShowPercent(60);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 60);
        QVERIFY(bar->isTextVisible());
        QCOMPARE(bar->text(), u"Выполнено 60%"_s);
        form.ShowPercent(-1);
        QCOMPARE(bar->maximum(), 0);
        QVERIFY(!bar->isTextVisible());
        form.ShowPercent(100);
        form.FinishOperation();
        form.StartOperation(backupTitle, &mainForm);
        QCOMPARE(bar->maximum(), 0);
        QVERIFY(!bar->isTextVisible());
        form.FinishOperation();
    }

    void twoOperationsReuseAndRelayout()
    {
        QWidget mainForm;
        TFormStatus form;
        form.StartOperation(backupTitle, &mainForm);
        const QSize shortSize = form.size();
        form.FinishOperation();

        form.StartOperation(longTitle, &mainForm);
        QVERIFY(form.isVisible());
        QVERIFY(!mainForm.isEnabled());
        const QLabel* label = titleLabel(form);
        QCOMPARE(label->text(), longTitle);
        QCOMPARE(label->size(), wrappedRect(QFontMetrics(label->font()), longTitle).size());
        checkFrameAroundLabel(form);
        QVERIFY(form.height() > shortSize.height());
        form.FinishOperation();
        QVERIFY(mainForm.isEnabled());

        // Started again while running, with a short title: the window shrinks again.
        form.StartOperation(longTitle, &mainForm);
        form.StartOperation(backupTitle, &mainForm);
        QCOMPARE(form.size(), shortSize);
        checkFrameAroundLabel(form);
        form.FinishOperation();
        QVERIFY(!form.isVisible());
        QVERIFY(mainForm.isEnabled());
    }

    void finishTwiceIsHarmless()
    {
        QWidget mainForm;
        TFormStatus form;
        form.FinishOperation(); // nothing recorded yet
        QVERIFY(!form.isVisible());
        form.StartOperation(backupTitle, &mainForm);
        form.FinishOperation();
        form.FinishOperation();
        QVERIFY(!form.isVisible());
        QVERIFY(mainForm.isEnabled());

        // A late finish enables the recorded main window again, whoever disabled it.
        mainForm.setEnabled(false);
        form.FinishOperation();
        QVERIFY(!form.isVisible());
        QVERIFY(mainForm.isEnabled());
    }

    void mainWindowGoneDuringOperation()
    {
        TFormStatus form;
        auto* mainForm = new QWidget;
        form.StartOperation(backupTitle, mainForm);
        delete mainForm;
        form.FinishOperation();
        QVERIFY(!form.isVisible());
    }

    void destroyedDuringOperationEnablesMainWindow()
    {
        QWidget mainForm;
        {
            TFormStatus form;
            form.StartOperation(backupTitle, &mainForm);
            QVERIFY(!mainForm.isEnabled());
        }
        QVERIFY(mainForm.isEnabled());
    }
};

QTEST_MAIN(TestProgressWindow)
#include "tst_progresswindow.moc"
