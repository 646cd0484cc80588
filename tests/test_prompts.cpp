// Qt's boxes and file choosers as the programs show them: Chinese whatever the
// locale, filters as the program writes them, a readable size. They are built
// and looked at, or answered from a timer; no test waits on a person.
#include "Prompts.h"
#include "Translations.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

constexpr int kWaitMs = 10000;

QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; combo && i < combo->count(); ++i)
        texts.append(combo->itemText(i));
    return texts;
}

// Runs action once on the first modal dialog that shows up, from the event
// loop of its own exec(). A dialog still open kWaitMs later is rejected, so
// that a test that went wrong fails instead of hanging.
void whenModalShows(const std::function<void(QWidget *)> &action)
{
    auto *poll = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    auto done = std::make_shared<bool>(false);
    clock->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, clock, done, action] {
        QWidget *modal = QApplication::activeModalWidget();
        const bool open = modal && modal->isVisible();
        if (open && !*done) {
            *done = true;
            action(modal);
        } else if (open && clock->hasExpired(kWaitMs)) {
            qWarning("a dialog stayed open: %s", qPrintable(modal->windowTitle()));
            static_cast<QDialog *>(modal)->reject();
        } else if ((!open && *done) || clock->hasExpired(2 * kWaitMs)) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

} // namespace

class PromptsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true); // the choosers' remembered state stays apart
        // Whatever the machine's locale, the texts must come out Chinese.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(Translations::installQtChinese(qApp), "qt6-translations-l10n provides qtbase_zh_CN");
        QFile song(m_folder.filePath(QStringLiteral("一首很长的歌曲名字 - 演唱者.mp3")));
        QVERIFY(song.open(QIODevice::WriteOnly));
        song.write(QByteArray(123456, 'x'));
    }

    void messageBox_buttonsReadChinese_andAnswerByCode_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("answerOfFirst");
        QTest::addColumn<int>("answerOfEscape");
        QTest::newRow("ok") << int(Prompts::Ok) << QStringList{"确定"} << int(Prompts::AnswerOk)
                            << int(Prompts::AnswerOk);
        QTest::newRow("ok cancel") << int(Prompts::OkCancel) << QStringList{"确定", "取消"}
                                   << int(Prompts::AnswerOk) << int(Prompts::AnswerCancel);
        QTest::newRow("yes no") << int(Prompts::YesNo) << QStringList{"是", "否"} << int(Prompts::AnswerYes)
                                << int(Prompts::AnswerNo);
    }

    void messageBox_buttonsReadChinese_andAnswerByCode()
    {
        QFETCH(int, buttons);
        QFETCH(QStringList, texts);
        QFETCH(int, answerOfFirst);
        QFETCH(int, answerOfEscape);

        const auto box = QtPrompts::buildMessageBox(nullptr, QStringLiteral("提示"), QStringLiteral("正文"),
                                                    Prompts::Buttons(buttons), Prompts::Warning);
        QStringList shown;
        QStringList spoken; // what a screen reader or an outside test reads
        for (QAbstractButton *button : box->buttons()) {
            shown.append(button->text());
            spoken.append(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name));
        }
        shown.sort();
        spoken.sort();
        QStringList expected = texts;
        expected.sort();
        QCOMPARE(shown, expected);
        QCOMPARE(spoken, expected);
        QCOMPARE(box->windowTitle(), QStringLiteral("提示"));

        QtPrompts prompts;
        whenModalShows([&](QWidget *modal) {
            for (auto *button : modal->findChildren<QAbstractButton *>()) {
                if (button->text() == texts.first())
                    button->click();
            }
        });
        QCOMPARE(prompts.message(nullptr, QStringLiteral("提示"), QStringLiteral("正文"),
                                 Prompts::Buttons(buttons), Prompts::Warning),
                 answerOfFirst);
        whenModalShows([](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QCOMPARE(prompts.message(nullptr, QStringLiteral("提示"), QStringLiteral("正文"),
                                 Prompts::Buttons(buttons), Prompts::Warning),
                 answerOfEscape);
    }

    void chooser_isQtsOwnInChinese_withFiltersAsWritten_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("filters");
        QTest::addColumn<QString>("accept");
        QTest::newRow("add files") << int(QtPrompts::OpenSeveral)
                                   << QStringLiteral("*.mp3文件 (*.mp3);;All file(*.*) (*)")
                                   << QStringList{"*.mp3文件", "All file(*.*)"} << QStringLiteral("打开");
        QTest::newRow("open playlist") << int(QtPrompts::OpenOne) << QStringLiteral("播放列表(*.m3u) (*.m3u)")
                                       << QStringList{"播放列表(*.m3u)"} << QStringLiteral("打开");
        QTest::newRow("save playlist") << int(QtPrompts::Save) << QStringLiteral("播放列表(*.m3u) (*.m3u)")
                                       << QStringList{"播放列表(*.m3u)"} << QStringLiteral("保存");
    }

    void chooser_isQtsOwnInChinese_withFiltersAsWritten()
    {
        QFETCH(int, kind);
        QFETCH(QString, filter);
        QFETCH(QStringList, filters);
        QFETCH(QString, accept);

        const auto dialog = QtPrompts::buildChooser(nullptr, QtPrompts::Chooser(kind), QStringLiteral("打开"),
                                                    filter, m_folder.path());
        QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
        QCOMPARE(comboTexts(dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))), filters);
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        QCOMPARE(name->text(), QString());
        QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lookInLabel"))->text(),
                 QStringLiteral("查找范围："));
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(buttons);
        QStringList texts;
        for (QAbstractButton *button : buttons->buttons())
            texts.append(button->text());
        QVERIFY2(texts.filter(accept).size() == 1 && texts.contains(QStringLiteral("取消")),
                 qPrintable(texts.join('|')));
        QCOMPARE(dialog->viewMode(), QFileDialog::Detail);
        QVERIFY(dialog->width() >= QtPrompts::kChooserWidth && dialog->height() >= QtPrompts::kChooserHeight);
        QCOMPARE(QDir(dialog->directory()), QDir(m_folder.path()));
    }

    void chooser_showsNameSizeAndDateUncut()
    {
        const auto dialog = QtPrompts::buildChooser(nullptr, QtPrompts::OpenSeveral, QStringLiteral("打开"),
                                                    QStringLiteral("*.mp3文件 (*.mp3)"), m_folder.path());
        dialog->show();
        auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(view && view->isVisible());
        QModelIndex row;
        QVERIFY(QTest::qWaitFor(
            [&] {
                row = view->model()->index(0, 0, view->rootIndex());
                return row.isValid();
            },
            kWaitMs));
        const QFontMetrics metrics(view->font());
        const QHeaderView *header = view->header();
        int right = 0;
        // Name, size, kind and date, each wide enough for its text, all in view.
        for (int column = 0; column < 4; ++column) {
            const QString text = view->model()->index(row.row(), column, view->rootIndex()).data().toString();
            QVERIFY2(!header->isSectionHidden(column), qPrintable(text));
            QVERIFY2(header->sectionSize(column) > metrics.horizontalAdvance(text) + (column == 0 ? 16 : 0),
                     qPrintable(text));
            right = std::max(right, header->sectionViewportPosition(column) + header->sectionSize(column));
        }
        QVERIFY(right <= view->viewport()->width());
    }
};

QTEST_MAIN(PromptsTest)
#include "test_prompts.moc"
