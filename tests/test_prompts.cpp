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
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <functional>

namespace {

// Runs action on the modal dialog that the next exec() shows, from that
// dialog's own event loop. A dialog still open 10 s later is rejected, so that
// a test that went wrong fails instead of hanging.
void whenModalShows(const std::function<void(QWidget *)> &action)
{
    QTimer::singleShot(0, qApp, [action] {
        auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(modal && modal->isVisible());
        QTimer::singleShot(10000, modal, &QDialog::reject);
        action(modal);
    });
}

QStringList textsOf(const QList<QAbstractButton *> &buttons, bool spoken = false)
{
    QStringList texts;
    for (QAbstractButton *button : buttons)
        texts.append(spoken ? QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name)
                            : button->text());
    texts.sort(); // whatever order the style lays them out in
    return texts;
}

} // namespace

class PromptsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true); // the choosers' remembered state stays apart
        // Whatever the machine's locale, the texts must come out Chinese.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(Translations::installQtChinese(qApp), "qt6-translations-l10n provides qtbase_zh_CN");
        QFile song(m_folder.filePath(QStringLiteral("一首很长的歌曲名字 - 演唱者.mp3")));
        QVERIFY(song.open(QIODevice::WriteOnly) && song.write(QByteArray(123456, 'x')) == 123456);
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

        const QString title = QStringLiteral("提示"), text = QStringLiteral("正文");
        const auto box =
            QtPrompts::buildMessageBox(nullptr, title, text, Prompts::Buttons(buttons), Prompts::Warning);
        QCOMPARE(box->windowTitle(), title);
        QStringList expected = texts;
        expected.sort();
        QCOMPARE(textsOf(box->buttons()), expected);
        // What a screen reader or an outside test reads.
        QCOMPARE(textsOf(box->buttons(), true), expected);

        QtPrompts prompts;
        whenModalShows([&](QWidget *modal) {
            for (auto *button : modal->findChildren<QAbstractButton *>()) {
                if (button->text() == texts.first())
                    button->click();
            }
        });
        QCOMPARE(prompts.message(nullptr, title, text, Prompts::Buttons(buttons), Prompts::Warning),
                 answerOfFirst);
        whenModalShows([](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QCOMPARE(prompts.message(nullptr, title, text, Prompts::Buttons(buttons), Prompts::Warning),
                 answerOfEscape);
    }

    void chooser_isQtsOwnInChinese_withFiltersAsWritten_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("filters");
        QTest::addColumn<QString>("accept");
        const QString playlists = QStringLiteral("播放列表(*.m3u) (*.m3u)");
        QTest::newRow("add files") << int(QtPrompts::OpenSeveral)
                                   << QStringLiteral("*.mp3文件 (*.mp3);;All file(*.*) (*)")
                                   << QStringList{"*.mp3文件", "All file(*.*)"} << QStringLiteral("打开");
        QTest::newRow("open playlist") << int(QtPrompts::OpenOne) << playlists
                                       << QStringList{"播放列表(*.m3u)"} << QStringLiteral("打开");
        QTest::newRow("save playlist")
            << int(QtPrompts::Save) << playlists << QStringList{"播放列表(*.m3u)"} << QStringLiteral("保存");
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
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        QStringList typeTexts;
        for (int i = 0; types && i < types->count(); ++i)
            typeTexts.append(types->itemText(i));
        QCOMPARE(typeTexts, filters);
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name && name->text().isEmpty());
        QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lookInLabel"))->text(),
                 QStringLiteral("查找范围："));
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(buttons);
        const QStringList texts = textsOf(buttons->buttons());
        QVERIFY2(texts.filter(accept).size() == 1 && texts.contains(QStringLiteral("取消")),
                 qPrintable(texts.join('|')));
        QCOMPARE(dialog->viewMode(), QFileDialog::Detail);
        QVERIFY(dialog->width() >= QtPrompts::kChooserWidth && dialog->height() >= QtPrompts::kChooserHeight);
        QCOMPARE(QDir(dialog->directory()), QDir(m_folder.path()));

        if (kind != QtPrompts::OpenSeveral)
            return;
        // Name, size, kind and date of a song, each wide enough for its text, all in view.
        dialog->show();
        auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(view && view->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(view->model()->hasIndex(0, 0, view->rootIndex()), 10000);
        const QFontMetrics metrics(view->font());
        const QHeaderView *header = view->header();
        int right = 0;
        for (int column = 0; column < 4; ++column) {
            const QString text = view->model()->index(0, column, view->rootIndex()).data().toString();
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
